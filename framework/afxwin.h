// The framework layer in one include.
#pragma once
#include "AfxCore.h"
#include "CString.h"
#include "CStringArray.h"
#include "CWnd.h"
#include "CDialog.h"
#include "Controls.h"
#include "CFile.h"
