#pragma once

#include <filesystem>

namespace vemlis {

// Where the program keeps data.kq4 and temp.kq4: the executable's folder when it is writable,
// else the per-user data folder (created when missing). Needs the application object.
std::filesystem::path dataFolder();

}  // namespace vemlis
