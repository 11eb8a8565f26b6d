#pragma once

#include <filesystem>
#include <string>

namespace vemlis {

// Where the program keeps data.kq4 and temp.kq4: the executable's folder when it is writable,
// else the per-user data folder (created when missing). Needs the application object.
std::filesystem::path dataFolder();

// Where movies go unless the user says otherwise: beside the data when that is the program's
// own folder (a copy run from a folder of its own), else a folder named after the program in
// the user's videos folder (created), so that an installed program never hides them in a
// dot-folder. Needs the application object.
std::filesystem::path defaultMoviesFolder(const std::filesystem::path& dataFolder);

// The catalogue's address: VEMLIS_CATALOGUE_URL from the environment when set, else [Catalogue]
// Url of the user's settings file, else of the system's, else the build's. Empty, with the
// reason in `problem` (and where it was set), when it is not an http:// or https:// address.
std::string catalogueAddress(const char* built, std::string& problem);
// Whether the text is an address the list of episodes may come from: http:// or https://.
bool isCatalogueAddress(const std::string& address);
// Why the address is refused, in the user's words.
std::string notCatalogueAddress(const std::string& address);

}  // namespace vemlis
