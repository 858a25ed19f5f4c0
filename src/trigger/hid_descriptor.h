// Reading a HID report descriptor: the lengths of the reports it declares.
// Pure: fed with descriptor bytes, from sysfs or from tests.
#ifndef FLASHDROP_TRIGGER_HID_DESCRIPTOR_H_
#define FLASHDROP_TRIGGER_HID_DESCRIPTOR_H_

#include <cstddef>
#include <cstdint>
#include <vector>

// Sets *bytes to the payload length (report id byte not counted) of the
// output report `report_id`, summed over its Output items and rounded up to
// whole bytes. Report id 0 stands for the one output report of a descriptor
// that declares no report ids. Returns false when the descriptor is cut off
// inside an item or declares no Output item for that report id.
bool output_report_length(const std::vector<uint8_t>& descriptor, unsigned report_id,
                          size_t* bytes);

#endif  // FLASHDROP_TRIGGER_HID_DESCRIPTOR_H_
