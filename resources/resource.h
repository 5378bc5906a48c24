// Identifiers shared by the resource script, the setup's code and its tests.
// Plain #defines because the resource compiler reads this file too.
#pragma once

#define IDD_SETUP 101
#define IDI_SETUP 105
#define IDB_PICTURE 108

#define IDC_DESTINATION 1004
#define IDC_BROWSE 1005
#define IDC_INTRO 1006
#define IDC_PICTURE 1009
