# bash completion for nimbrel-top                          -*- shell-script -*-

_nimbrel_top()
{
    local cur prev words cword split
    _init_completion -s || return

    # Walk the words before the current one. Giving an option twice is a
    # usage error, so each option seen is noted in both forms and not offered
    # again. A value is skipped, whatever it looks like: the "d" in "-udora"
    # or the "-d" in "-u -d" is not -d. $value ends up naming the option whose
    # value is being completed, if any.
    local -A used=()
    local i j w c value=""
    for ((i = 1; i < cword; i++)); do
        w=${words[i]}
        if [[ $value ]]; then
            value=""
            continue
        fi
        case $w in
            --) break ;;
            --*=*) used[${w%%=*}]=1 ;;
            --username | --for-reseller | --domain | --max | --order-by)
                used[$w]=1
                value=$w
                ;;
            --*) used[$w]=1 ;;
            -?*)
                # Bundled short options: flags run on, a value option takes the rest.
                for ((j = 1; j < ${#w}; j++)); do
                    c=${w:j:1}
                    used[-$c]=1
                    if [[ $c == [urdmo] ]]; then
                        ((j == ${#w} - 1)) && value=-$c
                        break
                    fi
                done
                ;;
        esac
    done
    $split && value=$prev

    case $value in
        --order-by | -o)
            COMPREPLY=($(compgen -W 'cpu mysql_cpu io mysql_io iops ep nproc pmem' -- "$cur"))
            return
            ;;
        --username | -u | --for-reseller | -r)
            COMPREPLY=($(compgen -u -- "$cur"))
            return
            ;;
        ?*)
            # A pattern or a number, or "=" after an option without a value.
            return
            ;;
    esac

    local shorts=(-j '' -u -r -d -m -o -h -V)
    local longs=(--json --hide-mysql --username --for-reseller --domain --max --order-by --help --version)
    local offered=()
    for ((i = 0; i < ${#longs[@]}; i++)); do
        [[ ${used[${longs[i]}]-} ]] && continue
        [[ ${shorts[i]} && ${used[${shorts[i]}]-} ]] && continue
        [[ ${shorts[i]} ]] && offered+=("${shorts[i]}")
        offered+=("${longs[i]}")
    done
    COMPREPLY=($(compgen -W '${offered[*]}' -- "$cur"))
} &&
    complete -F _nimbrel_top nimbrel-top

# ex: filetype=sh
