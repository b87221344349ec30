// Identifiers shared by the resource script and the code.
#pragma once

#define IDC_REPORTER_CODE 200
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
