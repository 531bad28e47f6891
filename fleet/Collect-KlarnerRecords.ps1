# Runs Velmora Klarner on many machines through PowerShell remoting and gathers the JSON records
# of the runs into one CSV table, one row per machine.
#   .\Collect-KlarnerRecords.ps1 -ComputerName pc001,pc002 [-Remove] [-OutFile fleet.csv]
# klarner.exe must be installed on every machine at -KlarnerPath.
param(
    [Parameter(Mandatory)][string[]]$ComputerName,
    [string]$KlarnerPath = 'C:\Program Files\Velmora Klarner\klarner.exe',
    [switch]$Remove,
    [string]$OutFile = 'klarner-fleet.csv'
)
$records = Invoke-Command -ComputerName $ComputerName -ArgumentList $KlarnerPath, $Remove.IsPresent -ScriptBlock {
    param($klarner, $remove)
    # The report and the backups go to a folder for SYSTEM and the Administrators only; one that
    # someone else made (and could plant links in) is refused.
    $logs = Join-Path $env:ProgramData 'KlarnerLogs'
    if (Test-Path -LiteralPath $logs) {
        $owner = (Get-Acl -LiteralPath $logs).GetOwner([Security.Principal.SecurityIdentifier]).Value
        if ($owner -ne 'S-1-5-18' -and $owner -ne 'S-1-5-32-544') {
            throw "$env:COMPUTERNAME: the log folder $logs is owned by $owner, not by SYSTEM or the Administrators"
        }
    } else {
        New-Item -ItemType Directory -Path $logs -Force | Out-Null
        & icacls.exe $logs /inheritance:r /grant:r '*S-1-5-18:(OI)(CI)F' '*S-1-5-32-544:(OI)(CI)F' | Out-Null
    }
    $switches = @("/silent=$logs\klarner-[DATE].txt", '/hkey=HKLM', '/json=-')
    if ($remove) { $switches += '/del' }
    # The record on standard output, then the summary line: everything but the last line is JSON.
    $output = & $klarner @switches
    ($output | Select-Object -SkipLast 1) -join "`n" | ConvertFrom-Json
}
$records | ForEach-Object {
    [pscustomobject]@{
        Computer         = $_.computer
        Finished         = $_.finished
        Mode             = $_.mode
        Found            = $_.counts.found
        Removed          = $_.counts.removed
        RemovedAtRestart = $_.counts.removedAtRestart
        Failed           = $_.counts.failed
        Refused          = $_.counts.refused
        Unreadable       = $_.counts.unreadable
        ExitCode         = $_.exitCode
        Report           = $_.report
    }
} | Export-Csv -Path $OutFile -NoTypeInformation -Encoding UTF8
