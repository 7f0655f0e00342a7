#pragma once
// USB scales of the HID point-of-sale class: found by their report
// descriptors, named by the devices themselves, read as one more kind of
// line. One file per system does the finding and the reading.

#include <memory>
#include <string>
#include <vector>

#include "serial/HidDescriptor.h"
#include "serial/SerialLine.h"

namespace tarvex {

struct HidScaleDevice {
    std::string name;   // as the device names itself: "DYMO M10 Digital Postal Scale"
    std::string place;  // where it is plugged in, the same when it comes back
    std::string node;   // what is opened: /dev/hidrawN, a Windows device path
    HidScaleLayout layout;
    int openError = 0;  // this user may not open it: the system's code; 0 otherwise
};

// Every USB scale present now, in a stable order (by place). On Linux,
// TARVEX_HID_ROOT, where set, stands for "/" in /sys/class/hidraw and /dev.
std::vector<HidScaleDevice> FindHidScales();

// The scale with this name at this place, opened; null with the error when
// it is not there or cannot be opened.
std::unique_ptr<ISerialLine> OpenHidScale(const HidScaleDevice& scale, int& error);

// The udev rule that lets the seated user open USB scales (Linux): a hidraw
// node whose descriptor begins with the Scales usage page. The package
// installs it as packaging/60-tarvex-usb-scale.rules.
inline constexpr char HID_SCALE_UDEV_RULE[] =
    "SUBSYSTEM==\"hidraw\", PROGRAM=\"/bin/sh -c 'od -An -tx1 -v /sys$devpath/device/report_descriptor"
    " | tr -dc 0-9a-f | grep -qE ^0[56]8d'\", TAG+=\"uaccess\"";

}  // namespace tarvex
