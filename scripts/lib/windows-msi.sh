# SPDX-License-Identifier: MIT
# Sourced by the scripts that build or try the Windows installer:
#   . scripts/lib/windows-msi.sh
#   windows_msi_build SRC FILES VERSION OUT.msi
# FILES is a folder holding marbrix-cli.exe, marbrix.exe, README.txt,
# LICENSE.txt and marbrix.ico; VERSION becomes the package's ProductVersion.

# What building it needs: wixl for the package, msibuild and msiinfo
# (msitools) for the rows wixl cannot write and for the check.
WINDOWS_MSI_PACKAGES=(wixl msitools)

windows_msi_build() {  # SRC FILES VERSION OUT
  local src=$1 files=$2 version=$3 out
  out=$(realpath -m "$4")
  local work
  work=$(mktemp -d)
  # wixl reads Source paths relative to the folder it runs in.
  (cd "$files" && wixl -a x64 -D Version="$version" -o "$out" "$src/packaging/windows/marbrix.wxs") \
    2> >(grep -v "has no property named" >&2)
  # wixl writes a property-setting custom action as deferred (in-script),
  # where it would set nothing: type 51 runs it at once, before
  # RegisterProduct writes the help link to Add/Remove Programs.
  msibuild "$out" -q "UPDATE \`CustomAction\` SET \`Type\` = 51 WHERE \`Type\` = 2099"
  # The installation folder at the end of the system PATH, removed again on
  # uninstall ("=-*": set on install, removed on uninstall, the machine's
  # variable; "[~];" keeps the entries already there in front). wixl has no
  # <Environment>, so the row and the two actions go in here.
  printf '%s\r\n' $'Environment\tName\tValue\tComponent_' $'s72\tl255\tL255\ts72' \
    $'Environment\tEnvironment' $'PathEntry\t=-*PATH\t[~];[INSTALLDIR]\tPathEntry' >"$work/Environment.idt"
  (cd "$work" && msibuild "$out" -i Environment.idt)
  msibuild "$out" -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('RemoveEnvironmentStrings', 3300)"
  msibuild "$out" -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('WriteEnvironmentStrings', 5200)"
  # msitools has no validation; reading every table back is the check there
  # is. (An export writes a table's binary cells to files in the current
  # folder: the scratch one.)
  local table
  for table in $(msiinfo tables "$out"); do
    (cd "$work" && msiinfo export "$out" "$table" >/dev/null)
  done
  rm -rf "$work"
}
