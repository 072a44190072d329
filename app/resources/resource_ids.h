#pragma once

// Shared by the resource script and the code that loads the resources.
#define IDI_PROGRAM 1
#define IDB_BARCODE 101
