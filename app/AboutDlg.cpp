#include "app/AboutDlg.h"

#include "res/resource.h"

CAboutDlg::CAboutDlg() : CTemplateDlg(IDD_ABOUTBOX) {}
