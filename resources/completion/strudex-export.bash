# bash completion for strudex-export                                  -*- shell-script -*-
#
# Uses the helpers of the bash-completion package when they are loaded, and works on its own (for
# example when this file is sourced from ~/.bashrc) when they are not.

# Every option of strudex-export; its test compares this list with the program's --help.
_strudex_export_options='-h --help --version --password --password-file --output --table --list
--format --sql-dialect --diff --diff-all --new-password --new-password-file --recursive --jobs
--force --index-only --for-index'

# The word as the shell will pass it: quotes and backslashes removed, a leading ~ kept for compgen.
# Fails on words whose value only the shell could work out ($ and ` outside single quotes): those
# are never evaluated here, since completing must not run what is typed.
_strudex_export_dequote()
{
    local word=$1 out='' quote='' c i
    for ((i = 0; i < ${#word}; i++)); do
        c=${word:i:1}
        if [[ $quote == "'" ]]; then
            [[ $c == "'" ]] && quote='' || out+=$c
        elif [[ $c == "\\" ]]; then
            ((i++))
            out+=${word:i:1}
        elif [[ $c == '$' || $c == '`' ]]; then
            return 1
        elif [[ $quote == '"' ]]; then
            [[ $c == '"' ]] && quote='' || out+=$c
        elif [[ $c == "'" || $c == '"' ]]; then
            quote=$c
        else
            out+=$c
        fi
    done
    printf '%s' "$out"
}

# A path as the file system knows it: a leading ~/ is the home folder.
_strudex_export_path()
{
    local path=$1
    # shellcheck disable=SC2088 # the typed ~ itself is looked for
    if [[ $path == '~' || $path == '~/'* ]]; then
        path=$HOME${path:1}
    fi
    printf '%s' "$path"
}

# Adds to COMPREPLY the files, or with -d only the folders, that start with the word.
_strudex_export_files()
{
    local only_folders=$1 cur=$2 name
    if declare -F _filedir >/dev/null; then
        if [[ $only_folders ]]; then
            _filedir -d
        else
            _filedir
        fi
        return
    fi
    cur=$(_strudex_export_dequote "$cur") || return
    compopt -o filenames 2>/dev/null
    local -a names
    if [[ $only_folders ]]; then
        mapfile -t names < <(compgen -d -- "$cur")
    else
        mapfile -t names < <(compgen -f -- "$cur")
    fi
    COMPREPLY+=("${names[@]}")
}

# Adds to COMPREPLY the Access databases (.mdb, .accdb, in any case) and the folders that start
# with the word.
_strudex_export_databases()
{
    local cur=$1 name lower
    if declare -F _filedir >/dev/null; then
        _filedir '[mM][dD][bB]|[aA][cC][cC][dD][bB]'
        return
    fi
    cur=$(_strudex_export_dequote "$cur") || return
    compopt -o filenames 2>/dev/null
    local -a names
    mapfile -t names < <(compgen -f -- "$cur")
    for name in "${names[@]}"; do
        lower=${name,,}
        if [[ $lower == *.mdb || $lower == *.accdb || -d $(_strudex_export_path "$name") ]]; then
            COMPREPLY+=("$name")
        fi
    done
}

# Adds to COMPREPLY the formats that can follow the part of the word before its last comma.
_strudex_export_formats()
{
    local cur=$1 diff=$2 head='' last format
    local formats='text json markdown html source sql'
    [[ $diff ]] && formats='text markdown json'
    if [[ $cur == *,* ]]; then
        head=${cur%,*},
        last=${cur##*,}
    else
        last=$cur
    fi
    for format in $formats; do
        [[ ,$head == *,$format,* ]] && continue
        [[ $format == "$last"* ]] && COMPREPLY+=("$head$format")
    done
}

# Adds to COMPREPLY the tables of the database already on the command line that start with the
# word, as strudex-export --list names them. Nothing when there is no readable database yet or the
# program cannot be run; a password on the command line is handed over on standard input, never as
# an argument.
_strudex_export_tables()
{
    local cur=$1
    shift
    local program=$1 database='' password='' password_file='' expect='' word value i
    local -a words=("$@")
    program=$(_strudex_export_dequote "$program") || return
    program=$(_strudex_export_path "$program")
    [[ $program == */* ]] || program=$(type -P -- "$program") || return
    [[ -x $program ]] || return
    for ((i = 1; i < ${#words[@]}; i++)); do
        word=${words[i]}
        [[ $word == = ]] && continue
        if [[ $expect ]]; then
            value=$(_strudex_export_dequote "$word") || value=''
            case $expect in
            --password) password=$value ;;
            --password-file) password_file=$(_strudex_export_path "$value") ;;
            esac
            expect=''
            continue
        fi
        case $word in
        --password=* | --password-file=*)
            value=$(_strudex_export_dequote "${word#*=}") || value=''
            [[ $word == --password=* ]] && password=$value || password_file=$(_strudex_export_path "$value")
            ;;
        --password | --password-file | --output | --table | --format | --new-password | --new-password-file)
            expect=$word
            ;;
        -*) ;;
        *)
            if [[ -z $database ]]; then
                value=$(_strudex_export_dequote "$word") || continue
                value=$(_strudex_export_path "$value")
                [[ -f $value ]] && database=$value
            fi
            ;;
        esac
    done
    [[ $database ]] || return
    local -a arguments=(--list)
    if [[ $password_file ]]; then
        arguments+=(--password-file "$password_file")
    elif [[ $password && $password != - ]]; then
        arguments+=(--password -)
    fi
    local -a limit=()
    type -P timeout >/dev/null && limit=(timeout 10)
    local -a tables
    mapfile -t tables < <(printf '%s\n' "$password" |
        "${limit[@]}" "$program" "${arguments[@]}" -- "$database" 2>/dev/null)
    local quote='' name
    if [[ ${cur:0:1} == [\'\"] ]]; then
        quote=${cur:0:1}
    fi
    local wanted
    wanted=$(_strudex_export_dequote "$cur") || return
    for name in "${tables[@]}"; do
        [[ $name == "$wanted"* ]] || continue
        if [[ $quote ]]; then
            COMPREPLY+=("$name")
        else
            COMPREPLY+=("$(printf '%q' "$name")")
        fi
    done
}

_strudex_export()
{
    local cur prev words cword split=''
    COMPREPLY=()
    if declare -F _init_completion >/dev/null; then
        _init_completion -s || return
        # The helper says "true" or "false"; here an empty value is false.
        [[ $split == true ]] && split=1 || split=''
    else
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=''
        ((cword > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
        # The shell splits --option=value at the "=": the value is completed on its own.
        if [[ $cur == = ]]; then
            cur=''
            split=1
        elif [[ $prev == = ]] && ((cword > 1)); then
            prev=${COMP_WORDS[COMP_CWORD - 2]}
            split=1
        elif [[ $cur == --*=* ]]; then
            prev=${cur%%=*}
            cur=${cur#*=}
            split=1
        fi
    fi

    local word diff='' options_end=''
    ((cword > 1)) && for word in "${words[@]:1:cword-1}"; do
        [[ $word == --diff ]] && diff=1
        [[ $word == -- ]] && options_end=1
    done

    if [[ -z $options_end ]]; then
        case $prev in
        --password | --new-password)
            return
            ;;
        --password-file | --new-password-file)
            _strudex_export_files '' "$cur"
            return
            ;;
        --output | --recursive | --index-only)
            _strudex_export_files -d "$cur"
            return
            ;;
        --jobs)
            return
            ;;
        --format)
            _strudex_export_formats "$cur" "$diff"
            return
            ;;
        --sql-dialect)
            local dialect
            for dialect in postgresql sqlite mysql; do
                [[ $dialect == "$cur"* ]] && COMPREPLY+=("$dialect")
            done
            return
            ;;
        --table)
            _strudex_export_tables "$cur" "${words[@]}"
            return
            ;;
        esac
        [[ $split ]] && return
        if [[ $cur == -* ]]; then
            local option
            for option in $_strudex_export_options; do
                [[ $option == "$cur"* ]] && COMPREPLY+=("$option")
            done
            return
        fi
    fi
    _strudex_export_databases "$cur"
} &&
    complete -F _strudex_export strudex-export
