#pragma once

#include <string>

#include "engine/net/HttpClient.h"

namespace vemlis {

// Why a transfer failed, in the user's words and language: what the download view, the
// waiting files and the messages say. Kept out of the HTTP client, which knows no language.
std::string reasonOf(const HttpError& error);

}  // namespace vemlis
