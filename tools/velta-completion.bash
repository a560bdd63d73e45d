# Bash completion for velta: options, and encoding names from velta -l
# matched in any letter case (-t utf offers UTF-8).
_velta() {
    local current previous
    current=${COMP_WORDS[COMP_CWORD]}
    previous=${COMP_WORDS[COMP_CWORD-1]}
    case "$previous" in
        -f|--from|-t|--to|--normalize)
            local name prefix=${current,,}
            COMPREPLY=()
            for name in $(velta -l 2>/dev/null | tr -d ':'); do
                [[ ${name,,} == "$prefix"* ]] && COMPREPLY+=("$name")
            done
            return
            ;;
        -o|--output|--data-dir)
            COMPREPLY=($(compgen -f -- "$current"))
            return
            ;;
    esac
    if [[ "$current" == -* ]]; then
        COMPREPLY=($(compgen -W "-f --from --from-code= -t --to --to-code= -c --replace -s
            --silent -o --output --add-signature --remove-signature -l --list --list-pairs
            --normalize --detect --data-dir --chunk-size -h --help -V --version" -- "$current"))
    else
        COMPREPLY=($(compgen -f -- "$current"))
    fi
}
complete -F _velta velta
