// The browser's side of the backend (webmidi.js), as the C++ side calls it. Results are the
// services' codes. Ports are named by direction (0 inputs, 1 outputs) and their index in that
// direction's last list; open devices by the handle the C++ side gave them.
#pragma once

#include <cstdint>

extern "C" {
// Lists the direction's connected ports anew; returns how many.
uint32_t kv5_webmidi_list(int output);
// The name of a listed port, UTF-8 and zero-terminated, into size bytes.
void kv5_webmidi_port_name(int output, uint32_t index, char* name, uint32_t size);
// Starts opening a listed port as handle: the port opened (and, with lockDevices, its device lock
// taken), after which the ticket settles with 0 or a failure code; an input then delivers its
// messages (kv5_webmidi_received). Returns 0 when started, else the failure at once.
uint32_t kv5_webmidi_open(int output, uint32_t index, uintptr_t handle, int ticket,
                          int lockDevices);
// Closes the handle's port (or cancels its opening) and releases its device lock.
void kv5_webmidi_close(uintptr_t handle);
// Sends one message on an open output: 0 sent, MMSYSERR_NODRIVER when the port has gone,
// MMSYSERR_ERROR when the browser refused the bytes.
uint32_t kv5_webmidi_send(uintptr_t handle, const uint8_t* bytes, uint32_t length);
}
