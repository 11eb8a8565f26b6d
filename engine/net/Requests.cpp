// How every request of the client is set up, and how its answers and failures are read.
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>

#include "engine/net/HttpClientImpl.h"
#include "engine/net/TransferLimits.h"

namespace vemlis {

bool headerValue(std::string_view line, std::string_view name, std::string& value) {
    if (line.size() <= name.size() || line[name.size()] != ':') return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(line[i])) != std::tolower(static_cast<unsigned char>(name[i])))
            return false;
    std::string_view rest = line.substr(name.size() + 1);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    while (!rest.empty() && (rest.back() == '\r' || rest.back() == '\n' || rest.back() == ' ')) rest.remove_suffix(1);
    value.assign(rest);
    return true;
}

namespace {

// A field that may appear once: a second, different value leaves nothing that can be trusted
// (a control character, which every reader of it refuses).
void single(std::string& field, const std::string& value) {
    field = field.empty() || field == value ? value : std::string("\x01");
}

void list(std::string& field, const std::string& value) { field = field.empty() ? value : field + ", " + value; }

}  // namespace

void AnswerHeaders::take(std::string_view line) {
    if (line.rfind("HTTP/", 0) == 0) {
        *this = {};
        return;
    }
    std::string value;
    if (headerValue(line, "ETag", value)) return single(etag, value);
    if (headerValue(line, "Last-Modified", value)) return single(lastModified, value);
    if (headerValue(line, "Date", value)) return single(date, value);
    if (headerValue(line, "Content-Range", value)) return single(contentRange, value);
    if (headerValue(line, "Accept-Ranges", value)) return single(acceptRanges, value);
    if (headerValue(line, "Retry-After", value)) return single(retryAfter, value);
    if (headerValue(line, "Content-Encoding", value)) return list(contentEncoding, value);
}

std::string AnswerHeaders::validator() const { return rangeValidator(etag, lastModified, date); }

namespace {

// The system's certificate authorities and those of the file SSL_CERT_FILE names, as one
// bundle: libcurl takes either its own default or a file given, not both. Read again only when
// the variable changes.
std::string extraAuthorities(CURL* easy) {
    static std::mutex lock;
    static std::string named, bundle;
    const char* extra = std::getenv("SSL_CERT_FILE");
    const std::string now = extra ? extra : "";
    std::lock_guard guard(lock);
    if (now == named) return bundle;
    named = now;
    bundle.clear();
    if (now.empty()) return bundle;
    std::ostringstream text;
    char* system = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_CAINFO, &system) == CURLE_OK && system)
        text << std::ifstream(system, std::ios::binary).rdbuf() << '\n';
    text << std::ifstream(now, std::ios::binary).rdbuf();
    bundle = text.str();
    return bundle;
}

void require(CURLcode code, const char* what) {
    if (code != CURLE_OK) throw HttpError(std::string("libcurl refused ") + what + ": " + curl_easy_strerror(code));
}

}  // namespace

namespace {

int setReceiveBuffer(void* limit, curl_socket_t socket, curlsocktype) {
    if (const int bytes = static_cast<const SpeedLimit*>(limit)->socketBuffer(); bytes > 0)
        ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    return CURL_SOCKOPT_OK;
}

}  // namespace

void followSpeedLimit(CURL* easy, const SpeedLimit& limit, std::int64_t& appliedRate) {
    const std::int64_t now = limit.get();
    if (now == appliedRate) return;
    appliedRate = now;
    curl_socket_t socket = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(easy, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK || socket == CURL_SOCKET_BAD) return;
    const int bytes = now > 0 ? limit.socketBuffer() : SpeedLimit::unlimitedSocketBuffer;
    ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

void applySpeedLimit(CURL* easy, const SpeedLimit& limit) {
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, limit.receiveBuffer(limits::receiveBuffer));
    curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, &setReceiveBuffer);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, const_cast<SpeedLimit*>(&limit));
    // Under a limit of the user's a connection may be slower than a dripping server: it is
    // held to an eighth of the limit instead (four connections share it).
    if (const std::int64_t rate = limit.get(); rate > 0)
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(std::clamp<std::int64_t>(rate / 8, 1, limits::slowest)));
}

void prepareEasy(CURL* easy, const std::string& url, curl_slist* headers, int stallTimeout) {
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, limits::redirects);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "KQ4Loader");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // A proxy's answer to CONNECT is not the server's: it must never be taken for the file's.
    require(curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L), "proxy answers");
    require(curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https"), "the allowed protocols");
    // A download asked over https never goes on in the clear.
    const bool secure = url.rfind("https://", 0) == 0;
    require(curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https"),
            "the allowed redirects");
    require(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L), "certificate checks");
    require(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L), "certificate checks");
    if (std::string bundle = extraAuthorities(easy); !bundle.empty()) {
        curl_blob blob{bundle.data(), bundle.size(), CURL_BLOB_COPY};
        require(curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob), "SSL_CERT_FILE");
    }
    if (const char* folder = std::getenv("SSL_CERT_DIR"); folder && *folder)
        require(curl_easy_setopt(easy, CURLOPT_CAPATH, folder), "SSL_CERT_DIR");
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, limits::receiveBuffer);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, limits::connectTimeout);
    if (stallTimeout > 0) {
        // A server that drips a byte now and then holds the queue as surely as one that sends
        // nothing: both are set aside, and the transfer goes on later from what it kept.
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(limits::slowest));
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stallTimeout));
    }
}

curl_slist* fileRequestHeaders(const std::string& validator) {
    curl_slist* headers = curl_slist_append(nullptr, "Accept: text/html, */*");
    headers = curl_slist_append(headers, "Accept-Encoding: identity");
    if (!validator.empty()) headers = curl_slist_append(headers, ("If-Range: " + validator).c_str());
    return headers;
}

HttpError errorOf(CURLcode result, const std::string& url, CURL* easy) {
    // A proxy that refused the tunnel for want of credentials: the same as its 407 to a plain
    // request, whatever libcurl made of it.
    long tunnel = 0;
    if (curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &tunnel) == CURLE_OK && tunnel == 407)
        return HttpError("HTTP 407", HttpError::Kind::status, 407);
    // Where the failure was: the last address of a redirect chain.
    char* effective = nullptr;
    const std::string where =
        curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective ? effective : url;
    std::string host = where.substr(where.find("://") == std::string::npos ? 0 : where.find("://") + 3);
    host = host.substr(0, host.find_first_of("/?#"));
    HttpError::Kind kind = HttpError::Kind::network;
    switch (result) {
        case CURLE_COULDNT_CONNECT:
            // Named with its port, the one thing that is often wrong in such an address.
            kind = HttpError::Kind::refused;
            // After the brackets of an IPv6 address, whose colons are its own.
            if (host.find(':', host.rfind(']') == std::string::npos ? 0 : host.rfind(']')) == std::string::npos)
                host += where.rfind("https://", 0) == 0 ? ":443" : ":80";
            break;
        case CURLE_OPERATION_TIMEDOUT: kind = HttpError::Kind::stalled; break;
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR: kind = HttpError::Kind::cutShort; break;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH: kind = HttpError::Kind::certificate; break;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_TOO_MANY_REDIRECTS: kind = HttpError::Kind::redirect; break;
        case CURLE_COULDNT_RESOLVE_HOST: kind = HttpError::Kind::notFound; break;
        default: break;
    }
    return HttpError(curl_easy_strerror(result), kind, 0, -1, host);
}

HttpError statusError(long status, const std::string& retryAfter) {
    return HttpError("HTTP " + std::to_string(status), HttpError::Kind::status, status,
                     parseRetryAfter(retryAfter, std::time(nullptr)));
}

std::optional<HttpError> AnswerHeaders::refusal(CURL* easy, const RangeAsked* asked, bool identityOnly,
                                                bool rangeOnly) const {
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t length = -1;
    curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    const std::string strong = validator();
    const Answer answer{status, contentEncoding, contentRange, static_cast<std::int64_t>(length), strong};
    return answerError(checkAnswer(answer, asked, identityOnly, rangeOnly), contentEncoding);
}

std::optional<HttpError> answerError(AnswerVerdict verdict, const std::string& encoding) {
    switch (verdict) {
        case AnswerVerdict::ok: return std::nullopt;
        case AnswerVerdict::encoded: return HttpError(encoding, HttpError::Kind::encoded);
        case AnswerVerdict::otherVersion: return HttpError("a part of another version of the file", HttpError::Kind::changed);
        case AnswerVerdict::rangesIgnored: return HttpError("the whole file for a range", HttpError::Kind::rangesIgnored);
        case AnswerVerdict::wrongRange: break;
    }
    return HttpError("another part than asked for", HttpError::Kind::wrongRange);
}

}  // namespace vemlis
