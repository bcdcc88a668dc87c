// A private ORV_ROOT for one test of a service component, and the lines the
// service log wrote into it. Construct it in the fixture (before the code
// under test logs); the destructor flushes the log, restores the environment
// and removes the folder.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "service/log/logger.h"
#include "tests/support/temp_dir.h"

namespace orv::test {

class ServiceLogRoot {
public:
    ServiceLogRoot() { setenv("ORV_ROOT", dir_.Path().c_str(), 1); }
    ~ServiceLogRoot() {
        log::Logger::Instance().Flush();
        unsetenv("ORV_ROOT");
    }
    ServiceLogRoot(const ServiceLogRoot&) = delete;
    ServiceLogRoot& operator=(const ServiceLogRoot&) = delete;

    const std::string& Path() const { return dir_.Path(); }

    // The service log's lines so far, each without its time prefix and line end.
    std::vector<std::string> Lines() const {
        log::Logger::Instance().Flush();
        std::ifstream in(std::filesystem::path(platform::LogDir()) / "ServiceManager.log.txt",
                         std::ios::binary);
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);) {
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
            if (line.empty()) continue;
            const std::size_t colon = line.find(": ");
            out.push_back(colon == std::string::npos ? line : line.substr(colon + 2));
        }
        return out;
    }

private:
    TempDir dir_;
};

}  // namespace orv::test
