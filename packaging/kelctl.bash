# bash completion for kelctl(1)

# One row per subcommand: its name, what its other arguments are (file, dir
# or none), then its options (every subcommand takes --help).
_kelctl_commands=(
  "log      none --app --dir --stdout --help"
  "archive  dir  --log-dir --cli --verbose --help"
  "digest   file --algo --hmac-key --tag --check --quiet --status --warn --strict --ignore-missing --help"
  "enc      none --encrypt --decrypt --key --key-file --in --out --help"
  "speed    none --help"
  "plugin   none --name --without-glade --help"
  "random   none --generator --help"
  "console  none --port --wait --help"
  "prime    none --bits --test --help"
  "rsa      file --bits --key --in --out --sig --help"
  "ec       file --curve --key --pub --sig --peer --out --hash --help"
  "dh       none --group --private-a --private-b --help"
  "oid      none --help"
  "selftest none --help"
)

# Options that take a value: the option, then the values to offer, or @file,
# @dir, or @any for free text.
_kelctl_values=(
  "--algo md5 sha1 sha224 sha256 sha384 sha512"
  "--app 0 1 2 3 4 5"
  "--generator ctr-drbg fips186"
  "--curve p256 p384"
  "--group 1 2 5 14 15 16 17 18 24"
  "--sig @file"
  "--port @any"
  "--wait @any"
  "--bits @any"
  "--test @any"
  "--pub @any"
  "--peer @any"
  "--hash @any"
  "--private-a @any"
  "--private-b @any"
  "--dir @dir"
  "--log-dir @dir"
  "--name @file"
  "--key-file @file"
  "--in @file"
  "--out @file"
  "--key @any"
  "--hmac-key @any"
)

_kelctl_complete_paths() {
  compopt -o filenames 2>/dev/null
  local IFS=$'\n'
  COMPREPLY=($(compgen "$1" -- "$2"))
}

_kelctl() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} row
  COMPREPLY=()
  if ((COMP_CWORD == 1)); then
    local names=()
    for row in "${_kelctl_commands[@]}"; do names+=("${row%% *}"); done
    COMPREPLY=($(compgen -W "${names[*]} --help --version" -- "$cur"))
    return 0
  fi

  local name= args= opts=
  for row in "${_kelctl_commands[@]}"; do
    if [[ ${row%% *} == "${COMP_WORDS[1]}" ]]; then
      read -r name args opts <<<"$row"
    fi
  done
  [[ -n $name ]] || return 0

  if [[ " $opts " == *" $prev "* ]]; then
    for row in "${_kelctl_values[@]}"; do
      [[ ${row%% *} == "$prev" ]] || continue
      case ${row#* } in
        @file) _kelctl_complete_paths -f "$cur" ;;
        @dir) _kelctl_complete_paths -d "$cur" ;;
        @any) ;;
        *) COMPREPLY=($(compgen -W "${row#* }" -- "$cur")) ;;
      esac
      return 0
    done
  fi

  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$opts" -- "$cur"))
  elif [[ $args == file ]]; then
    _kelctl_complete_paths -f "$cur"
  elif [[ $args == dir ]]; then
    _kelctl_complete_paths -d "$cur"
  fi
  return 0
}

complete -F _kelctl kelctl
