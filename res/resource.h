// Numeric identifiers of Orvane's resources, shared by the resource script and src/ui/.
#pragma once

// The main dialog's template.
#define IDD_MAIN 129

// Its controls; the labels carry no identifier of their own.
#define IDC_INPUT_FILE 1000
#define IDC_OUTPUT_FILE 1001
#define IDC_DATA_SIZE 1002
#define IDC_STATIC (-1)

// Commands posted to the dialog by the Browse button inside each path field.
#define IDC_BROWSE_INPUT 12345
#define IDC_BROWSE_OUTPUT 12346
