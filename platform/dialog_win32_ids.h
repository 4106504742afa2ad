/* Ids of the status dialog's template, for the resource compiler, which reads only the
   preprocessor. The C++ side names the same numbers in platform/dialog.hpp and checks
   them against these. */
#pragma once

#define IDD_STATUS 101
#define IDC_DISPLAY 1000
#define IDC_CRC_CHECK 1001
#define IDC_INDICATOR 1002
#define IDC_REPEAT_LABEL 1003
#define IDC_INVERT 1004
