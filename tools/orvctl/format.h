// How orvctl shows what the service sends: one human-readable text and one
// JSON object per answer or notice. Pure.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "protocol/control/control_protocol.h"

namespace orv::orvctl {

// "4K", "2K", "1080P", or the number for any other value.
std::string PixelModeName(std::int32_t pixelMode);
// "GPU", "CPU", or the number for any other value.
std::string EncodeModeName(std::int32_t mode);

// One line: "wall 1: 2 x 2 monitors of 1920 x 1080 (3840 x 2160), ...",
// then a line per zone.
std::string DescribeWall(const control::WallRecord& wall);
nlohmann::json WallToJson(const control::WallRecord& wall);

// Lines ending in '\n'.
std::string Describe(const control::ServiceMessage& message);
// An object whose "type" names the message ("walls", "monitor-arrived", ...).
nlohmann::json ToJson(const control::ServiceMessage& message);

}  // namespace orv::orvctl
