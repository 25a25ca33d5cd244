// The ping and external loopback stages that end a memory command, the
// discovery of the adapter's own IPv4 address, and the test runner that
// drives the ping engine.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/run_settings.h"
#include "device/link.h"
#include "driver/request_channel.h"
#include "platform/net_host.h"

// Ping stage (-p): exit code 0 or 7.
int RunPingStage(RequestChannel& ch, RunSettings& rs, const LinkStageResult& link);
// External loopback stage (-L): exit code 0 or 8.
int RunLoopbackStage(RequestChannel& ch, RunSettings& rs);
// The loopback stage runs at 100fd or 1000fd only: 0, or 8 after the
// message when -l asks for another mode. A run checks this before it
// touches the device, so that a loopback test that cannot run does not
// follow the programming of a device and the stepping of its identity.
int CheckLoopbackLinkMode(const RunSettings& rs);

// The adapter under test is the first one whose description contains this.
constexpr const char* kAdapterDescriptionMatch = "ORN53";

// Finds the adapter under test in the host's adapter list and stores its
// IPv4 address (dotted text) and interface index.
bool FindAdapterAddress(std::array<char, 100>& address_text, uint32_t& interface_index);
// The choice FindAdapterAddress makes on a given adapter list.
bool PickAdapterAddress(const std::vector<platform::net::AdapterEntry>& adapters,
                        std::array<char, 100>& address_text, uint32_t& interface_index);

// One series of ping attempts to `address` (loopback false) or of loopback
// attempts from the adapter's own `address` (loopback true).
bool RunEchoTest(RequestChannel& ch, const char* address, uint32_t interface_index, bool loopback);
