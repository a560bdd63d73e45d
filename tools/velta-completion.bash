# Bash completion for velta: options, and encoding names from velta -l.
_velta() {
    local current previous
    current=${COMP_WORDS[COMP_CWORD]}
    previous=${COMP_WORDS[COMP_CWORD-1]}
    case "$previous" in
        -f|--from|-t|--to|--normalize)
            local names
            names=$(velta -l 2>/dev/null | tr -d ':' | tr ' ' '\n')
            COMPREPLY=($(compgen -W "$names" -- "$current"))
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
