# Discovery script of a compliance check (for example a Configuration Manager configuration item):
# always exits 0, since that tool treats any other exit code as a failed discovery, and prints
# "Compliant" (no leftovers) or "NonCompliant" (leftovers, or the run could not tell).
& "$PSScriptRoot\klarner-run.cmd" detect | Out-Null
if ($LASTEXITCODE -eq 0) { 'Compliant' } else { 'NonCompliant' }
exit 0
