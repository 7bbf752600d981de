#!/usr/bin/env bash
# ansible-test's sanity checks for the vantoro.cameras collection, run offline:
# ansible-test sanity builds a virtual environment and fetches pip for some of
# them, so each is run here directly with Debian's /usr/bin/python3 (python3
# on PATH may be another interpreter) and the tools of Debian's packages.
# Usage: sanity.sh COLLECTION_DIR VERSION  (the staged collection in the build tree)
set -uo pipefail
[ $# -eq 2 ] || { echo "usage: $0 COLLECTION_DIR VERSION" >&2; exit 2; }
collection=$(cd "$1" && pwd) || exit 1
version=$2
root=$(cd "$collection/../../.." && pwd) # the folder holding ansible_collections
S=/usr/lib/python3/dist-packages/ansible_test/_util/controller/sanity
PY=/usr/bin/python3
export PYTHONDONTWRITEBYTECODE=1 ANSIBLE_COLLECTIONS_PATH=$root ANSIBLE_LOCAL_TEMP=$(mktemp -d)
work=$(mktemp -d)
trap 'rm -rf "$work" "$ANSIBLE_LOCAL_TEMP"' EXIT
cd "$collection" || exit 1

failed=()
check() { # name, command...
  local name=$1; shift
  if "$@" > "$work/$name.log" 2>&1; then
    echo "ok    $name"
  else
    echo "FAIL  $name"; sed 's/^/      /' "$work/$name.log" | head -n 40
    failed+=("$name")
  fi
}

modules=(plugins/modules/*.py)
python_files=$(find plugins tests -name '*.py' | sort)
yaml_files=$(find . -name '*.yml' -not -path './tests/output/*' | sort)

# validate-modules (--arg: argparse's prefix of its check of each module's argument table), less
# what tests/sanity/ignore-2.14.txt lists ("path test:code").
validate_modules() {
  PYTHONPATH=$root $PY $S/validate-modules/validate.py --format plain --arg \
      --collection ansible_collections/vantoro/cameras --collection-version "$version" "${modules[@]}" > "$work/vm.out" 2>&1
  sed -n 's/^\([^ ]*\) validate-modules:\([^ ]*\)$/\1:0:0: E\2 /p' tests/sanity/ignore-2.14.txt > "$work/vm.ignored"
  if [ -s "$work/vm.ignored" ]; then
    grep -v -F -f "$work/vm.ignored" "$work/vm.out" > "$work/vm.kept"
  else
    cp "$work/vm.out" "$work/vm.kept"
  fi
  [ ! -s "$work/vm.kept" ] || { cat "$work/vm.kept"; return 1; }
}
check validate-modules validate_modules
# shellcheck disable=SC2086
check compile $PY -m py_compile $python_files
# shellcheck disable=SC2086
check pycodestyle $PY -m pycodestyle --max-line-length 160 --ignore E402,E741,W503,W504 $python_files
check pylint env ANSIBLE_TEST_MODULES_PATH="$collection/plugins/modules/" \
    ANSIBLE_TEST_MODULE_UTILS_PATH="$collection/plugins/module_utils/" PYTHONPATH="$root:$S/pylint/plugins" \
    $PY -m pylint --rcfile $S/pylint/config/collection.cfg \
    --load-plugins pylint.extensions.mccabe,deprecated,string_format,unwanted plugins/
yamllint() { # the linter prints its findings as JSON: none is a pass
  # shellcheck disable=SC2086
  $PY $S/yamllint/yamllinter.py $yaml_files "${modules[@]}" plugins/doc_fragments/*.py | tee "$work/yl.out"
  $PY -c 'import json,sys; sys.exit(1 if json.load(open(sys.argv[1]))["messages"] else 0)' "$work/yl.out"
}
check yamllint yamllint
check runtime-metadata $PY $S/code-smell/runtime-metadata.py meta/runtime.yml
ansible_doc() {
  local m
  for m in "${modules[@]}"; do
    m=$(basename "$m" .py)
    ansible-doc -t module "vantoro.cameras.$m" > /dev/null || { echo "ansible-doc vantoro.cameras.$m failed"; return 1; }
  done
}
check ansible-doc ansible_doc
# In a copy outside the source tree's git repository: inside it, ansible-lint
# lints only the files git tracks, and the staged copy is in none.
ansible_lint() {
  mkdir -p "$work/lint/ansible_collections/vantoro" && cp -r . "$work/lint/ansible_collections/vantoro/cameras" &&
    (cd "$work/lint/ansible_collections/vantoro/cameras" && ansible-lint --offline --nocolor -q)
}
check ansible-lint ansible_lint
# Built and installed as a user would, and found there.
galaxy() {
  ansible-galaxy collection build --output-path "$work/dist" . &&
    ansible-galaxy collection install -p "$work/installed" "$work/dist/vantoro-cameras-$version.tar.gz" &&
    ANSIBLE_COLLECTIONS_PATH=$work/installed ansible-doc -t module vantoro.cameras.camera > /dev/null
}
check galaxy-build galaxy

[ ${#failed[@]} -eq 0 ] || { echo "failed: ${failed[*]}"; exit 1; }
