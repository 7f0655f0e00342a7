#pragma once
// The HTTP feed: the newest reading, the readings after a seq, a stream of
// Server-Sent Events, the desk's state and a live page, all GET, for
// programs and browsers on this computer (or, with a token, elsewhere).
// The window's thread only hands readings over; the clients are served on
// threads of the feed's own, from the readings it keeps (FeedStore.h).

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "outputs/ReadingOutput.h"

namespace tarvex {

constexpr int FEED_MOST_CLIENTS = 64;
constexpr size_t FEED_MOST_HEADER_BYTES = 8192;
constexpr size_t FEED_MOST_READINGS_PER_REQUEST = 1000;
constexpr size_t FEED_DEFAULT_READINGS_PER_REQUEST = 100;
// A stream of the live weight sends at most this many changes a second.
constexpr int FEED_LIVE_WEIGHTS_PER_SECOND = 10;

struct HttpFeedSettings {
    std::string host;  // as given: "127.0.0.1", "::1", "localhost", "0.0.0.0", ...
    int port = 0;
    bool loopback = true;  // then the Host a request names must be this computer
    std::string token;     // empty: none asked for
    std::vector<std::string> allowedOrigins;
    int keepAliveSeconds = 15;  // the comment line a quiet stream gets
    // PEM files: both given, the feed speaks HTTPS only.
    std::string certificateFile, keyFile;
};

// Whether this build can serve HTTPS (OpenSSL through the HTTP library).
bool FeedCanServeTls();

class CHttpFeed : public IReadingOutput {
public:
    explicit CHttpFeed(HttpFeedSettings settings);
    ~CHttpFeed() override;
    CHttpFeed(const CHttpFeed&) = delete;
    CHttpFeed& operator=(const CHttpFeed&) = delete;

    // False when the certificate and key given cannot be used (unreadable,
    // not PEM, not a pair); the feed then stays silent.
    bool CertificateUsable() const;
    // Listens; false when the address cannot be had (in use, not this
    // computer's) or the certificate cannot be used, and the feed stays silent.
    bool Start();
    int Port() const;  // the one bound (0 in the settings: the system's choice)

    // What readings kept from before (the journal) and the live page need.
    void AddEarlier(const std::vector<RowRecord>& readings);
    // The words before a damaged frame's bytes, in the table's language.
    void SetRemarkPrefix(std::wstring prefix);
    // The live page's texts, by the names LivePage.h lists.
    void SetPageTexts(const std::map<std::string, std::wstring>& texts);

    void ReadingAdded(const AddedReading& reading) override;
    void RowsCleared(const ClearedRows&) override {}
    void LinkStateChanged(bool) override {}
    void ReadingsHeldBack(uint64_t seq) override;
    void DeskStateChanged(const DeskState& state) override;
    void LiveWeightChanged(const LiveWeightState& live) override;

    // How a held-back reading is fetched again (from the journal).
    using ReadFrom = std::function<std::vector<RowRecord>(uint64_t seq, size_t most)>;
    void SetReadFrom(ReadFrom readFrom) { m_readFrom = std::move(readFrom); }

private:
    void Add(const RowRecord& record);

    struct Server;
    std::unique_ptr<Server> m_server;
    std::wstring m_remarkPrefix;
    ReadFrom m_readFrom;
};

}  // namespace tarvex
