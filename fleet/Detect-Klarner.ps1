# Detection script of a remediation pair (for example Intune remediations): a detection run of
# Velmora Klarner. Exits 1 only when leftovers remain (the remediation script then runs) and 0
# when the machine is clean; any other outcome is a failed detection, never "leftovers present":
# it exits with the program's code and says why on the last line (the summary line otherwise).
& "$PSScriptRoot\klarner-run.cmd" detect
$code = $LASTEXITCODE
if ($code -eq 0 -or $code -eq 1) { exit $code }
$why = switch ($code) {
    5     { 'the log folder is not owned by SYSTEM or the Administrators' }
    87    { 'bad switches' }
    110   { 'the report or the JSON record could not be written' }
    126   { 'a language library is missing beside klarner.exe' }
    740   { 'not run as an administrator' }
    1618  { 'another instance is running; try again later' }
    3010  { 'leftovers were removed; a restart finishes it' }
    9009  { 'klarner.exe was not found' }
    default { 'the run could not do its work' }
}
Write-Output "Detection failed: exit code $code ($why)"
exit $code
