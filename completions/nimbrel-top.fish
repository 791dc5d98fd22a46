# fish completion for nimbrel-top

# Succeeds while neither form of an option is on the command line, or while
# the option is the last word and its value is being completed: giving an
# option twice is a usage error. Option values are skipped, so that the "d"
# in "-u dora" or "-udora" does not count as -d.
function __nimbrel_top_unused --argument-names short long
    set -l tokens (commandline --current-process --tokenize --cut-at-cursor)
    set -e tokens[1]
    set -l with_value username for-reseller domain max order-by
    set -l pending 0
    set -l awaiting 0
    for t in $tokens
        if test $pending = 1
            test $awaiting = 1; and return 1
            set pending 0
            continue
        end
        switch $t
            case --
                break
            case '--*'
                set -l name (string split -m 1 = -- (string sub -s 3 -- $t))[1]
                set -l takes_next 0
                if not string match -q -- '*=*' $t; and contains -- $name $with_value
                    set takes_next 1
                end
                if test "$name" = "$long"
                    test $takes_next = 0; and return 1
                    set awaiting 1
                end
                set pending $takes_next
            case '-?*'
                # Bundled short options: flags run on, a value option takes the rest.
                set -l chars (string split '' -- (string sub -s 2 -- $t))
                for i in (seq (count $chars))
                    set -l c $chars[$i]
                    set -l takes_value 0
                    contains -- $c u r d m o; and set takes_value 1
                    if test -n "$short"; and test "$c" = "$short"
                        test $takes_value = 1; and test $i -eq (count $chars); or return 1
                        set awaiting 1
                    end
                    if test $takes_value = 1
                        test $i -eq (count $chars); and set pending 1
                        break
                    end
                end
        end
    end
    return 0
end

complete -c nimbrel-top -f

complete -c nimbrel-top -n '__nimbrel_top_unused j json' -s j -l json \
    -d 'Return data in JSON format (required)'
complete -c nimbrel-top -n '__nimbrel_top_unused "" hide-mysql' -l hide-mysql \
    -d "Don't show MySQL related info"
complete -c nimbrel-top -n '__nimbrel_top_unused u username' -s u -l username -x \
    -a '(__fish_complete_users)' -d 'Filter: show users matching username pattern'
complete -c nimbrel-top -n '__nimbrel_top_unused r for-reseller' -s r -l for-reseller -x \
    -a '(__fish_complete_users)' -d 'Get information only about specified reseller and his users'
complete -c nimbrel-top -n '__nimbrel_top_unused d domain' -s d -l domain -x \
    -d 'Filter: show users with domain matching pattern'
complete -c nimbrel-top -n '__nimbrel_top_unused m max' -s m -l max -x \
    -d 'Show up to N records (default top 25)'
complete -c nimbrel-top -n '__nimbrel_top_unused o order-by' -s o -l order-by -x \
    -a 'cpu mysql_cpu io mysql_io iops ep nproc pmem' -d 'Sort order (default cpu)'
complete -c nimbrel-top -n '__nimbrel_top_unused h help' -s h -l help -d 'Print help'
complete -c nimbrel-top -n '__nimbrel_top_unused V version' -s V -l version -d 'Print version'
