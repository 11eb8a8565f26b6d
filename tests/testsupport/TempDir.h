#pragma once

#include <filesystem>
#include <string>

namespace vemlis::testing {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir final {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return root; }
    std::filesystem::path operator/(const std::string& name) const { return root / name; }

private:
    std::filesystem::path root;
};

std::string readWholeFile(const std::filesystem::path& path);
void writeWholeFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace vemlis::testing
