// Windows Installer's own registration of a product that is gone: the product is still registered
// as installed, but its cached package is gone and none of its components' files are there. It can
// then be neither repaired nor removed, and a new installer of its maker refuses to run.
#pragma once
#include "LeftoverKind.h"
#include "../system/WindowsInstaller.h"
#include <string>

// What a product registered with Windows Installer comes to.
enum class InstallerVerdict
{
    None,         // nothing names the product, or Windows Installer does not say it is installed
    PackageThere, // kept: its cached package is there, Windows Installer can still remove it
    FilesThere,   // kept: a file (or key) of one of its components is there
    Finding,      // its registration is all that is left
};
InstallerVerdict JudgeInstallerProduct(bool namedByKeyword, bool installed, bool packageGone, bool componentThere);
