// Where the wireless camera is: the address and port of its settings, which the module and
// the tools that speak of the camera read alike.
#pragma once

#include <cstdint>
#include <string>

inline constexpr uint32_t kDefaultWifiCameraAddress = (192u << 24) | (168u << 16) | (5u << 8) | 1u;
inline constexpr int32_t kDefaultWifiCameraPort = 8080;

// Reads the address and port from the "using" settings tree when its key opens, else from
// the "default" tree. False when no key opened or a value was missing; the defaults
// 192.168.5.1 and 8080 then stand for whatever was not read.
bool ReadWifiCameraAddress(uint32_t& address, int32_t& port);

// "a.b.c.d:port".
std::string WifiCameraEndpointText(uint32_t address, int32_t port);
