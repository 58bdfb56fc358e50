# bash completion for recaster                                   -*- shell-script -*-
# Commands, their options, and for each file argument the files of its kind (scenes, props,
# pictures, glTF documents, reports) besides folders.

# Adds the folders and the files ending in one of the extensions given (in any case) that start
# with the word being completed.
_recaster_files() {
    local cur=$1 ext letter pattern c IFS=$'\n'
    shift
    compopt -o filenames 2>/dev/null
    COMPREPLY+=($(compgen -d -- "$cur"))
    for ext in "$@"; do
        pattern=
        for ((c = 0; c < ${#ext}; c++)); do
            letter=${ext:c:1}
            pattern+="[${letter,,}${letter^^}]"
        done
        COMPREPLY+=($(compgen -f -X "!*.$pattern" -- "$cur"))
    done
}

_recaster_dirs() {
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    COMPREPLY+=($(compgen -d -- "$1"))
}

_recaster() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()

    local global='-h --help --version -q --quiet -v --verbose'
    local commands='convert check info thumbnail extract resave export batch report help'

    # The command is the first word that is not an option; `report` has one of its own.
    local command= sub= i word
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        [[ $word == -* ]] && continue
        if [[ -z $command ]]; then
            command=$word
        elif [[ $command == report && -z $sub ]]; then
            sub=$word
        fi
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$global" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi

    # The value of an option.
    case $command:$prev in
        convert:-o | convert:--output) _recaster_files "$cur" fbprop crv; return ;;
        resave:-o | resave:--output) _recaster_files "$cur" crv fbprop; return ;;
        thumbnail:-o | thumbnail:--output) _recaster_files "$cur" png jpg bmp tga gif tif; return ;;
        thumbnail:--format) COMPREPLY=($(compgen -W 'png jpg bmp tga gif tif' -- "$cur")); return ;;
        thumbnail:--size) COMPREPLY=($(compgen -W '128 256 512 1024' -- "$cur")); return ;;
        export:-o | export:--output) _recaster_files "$cur" glb gltf; return ;;
        extract:-o | extract:--output-dir | batch:-o | batch:--output-dir)
            _recaster_dirs "$cur"; return ;;
        batch:--progress) COMPREPLY=($(compgen -W 'auto always never json' -- "$cur")); return ;;
        batch:-j | batch:--jobs) COMPREPLY=($(compgen -W "$(nproc 2>/dev/null || echo 1)" -- "$cur")); return ;;
        batch:--report | report:-o | report:--output) _recaster_files "$cur" json; return ;;
        batch:--files-from)
            compopt -o filenames 2>/dev/null
            local IFS=$'\n'
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        batch:--shard) return ;;
        batch:--export) COMPREPLY=($(compgen -W 'glb gltf' -- "$cur")); return ;;
    esac

    local options
    case $command in
        convert) options='-o --output --force --strict --json' ;;
        check) options='--json --strict' ;;
        info) options='--tree --json' ;;
        thumbnail) options='-o --output --format --size --force --json' ;;
        extract) options='-o --output-dir --force --json' ;;
        resave) options='-o --output --force --strict --json' ;;
        export) options='-o --output --converted --force --strict --json' ;;
        batch) options='-o --output-dir -j --jobs --force --strict --report --files-from -0 --null --shard --export --converted --progress --dry-run' ;;
        report)
            if [[ -z $sub ]]; then
                COMPREPLY=($(compgen -W 'merge' -- "$cur"))
                [[ $cur == -* ]] && COMPREPLY=($(compgen -W '-h --help' -- "$cur"))
                return
            fi
            options='-o --output --force' ;;
        help)
            COMPREPLY=($(compgen -W "${commands% help}" -- "$cur"))
            return ;;
        *) return ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "-h --help -q --quiet -v --verbose $options" -- "$cur"))
        return
    fi
    case $command in
        convert) _recaster_files "$cur" crv ;;
        check | info | thumbnail | extract | resave | export) _recaster_files "$cur" crv fbprop ;;
        batch) _recaster_files "$cur" crv ;;
        report) _recaster_files "$cur" json ;;
    esac
}
complete -F _recaster recaster
