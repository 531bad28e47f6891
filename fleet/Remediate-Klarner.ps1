# Remediation script of a remediation pair: removes the leftovers, each backed up first, and
# passes the program's exit code on (0 clean, 3010 clean after a restart, 1 leftovers remain);
# the last line of the output is the run's summary line.
& "$PSScriptRoot\klarner-run.cmd" remove
exit $LASTEXITCODE
