// The one application object of the program.
#include "KlarnerApp.h"

CKlarnerApp theApp;
