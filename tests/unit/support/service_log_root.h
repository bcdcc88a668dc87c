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

namespace orv::test {

class ServiceLogRoot {
public:
    ServiceLogRoot() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "orv-service-test-XXXXXX").string();
        if (!mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
        setenv("ORV_ROOT", path_.c_str(), 1);
    }
    ~ServiceLogRoot() {
        log::Logger::Instance().Flush();
        unsetenv("ORV_ROOT");
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ServiceLogRoot(const ServiceLogRoot&) = delete;
    ServiceLogRoot& operator=(const ServiceLogRoot&) = delete;

    const std::string& Path() const { return path_; }

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
    std::string path_;
};

}  // namespace orv::test
