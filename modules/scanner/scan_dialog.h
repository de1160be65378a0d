#pragma once
// The source's own dialog: the device's scan mode, depth, resolution and
// source, with Scan and Cancel. Only where the program runs a widget
// application; elsewhere there is nothing to show.
#include <sane/sane.h>

#include <string>

// 1: Scan (the choices are set on the device), 0: Cancel, -1: no dialog
// can be shown here.
int ShowScanDialog(SANE_Handle Handle, const std::string& DeviceName);
