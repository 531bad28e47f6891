# Detection script of a remediation pair (for example Intune remediations): a detection run of
# Velmora Klarner. Exits 1 when leftovers remain (the remediation script then runs), 0 when the
# machine is clean; the last line of the output is the run's summary line.
& "$PSScriptRoot\klarner-run.cmd" detect
if ($LASTEXITCODE -eq 0) { exit 0 }
exit 1
