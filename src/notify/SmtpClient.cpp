#include "notify/SmtpClient.h"

#include "notify/SmtpDialogue.h"
#include "support/DebugLog.h"
#include "support/FileSystemUtility.h"
#include "support/SystemUtility.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryFile>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kDefaultConnectTimeoutMs = 15000;
// The pace assumed of a poor uplink when the whole submission's bound is derived.
constexpr qint64 kSlowestBytesPerSecond = 64 * 1024;

// libcurl's process-wide set-up, done once by whichever thread sends first.
bool curlReady()
{
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

int connectTimeoutMs(const SmtpConfig& config)
{
    return config.ConnectTimeoutMs > 0 ? config.ConnectTimeoutMs : kDefaultConnectTimeoutMs;
}

// How long the server may stay silent after a command, or stop taking the
// message: the connect time-out, in the whole seconds libcurl counts these in.
long silenceSeconds(const SmtpConfig& config)
{
    return std::max<long>(1, (connectTimeoutMs(config) + 999) / 1000);
}

// The bound on the whole submission. Without one given, four connect
// time-outs (reaching the server, the envelope, the message, the server's
// verdict) plus a second for each 64 KiB of message, so a large attachment on
// a slow line is not cut off while the silence bounds still catch a dead server.
qint64 overallTimeoutMs(const SmtpConfig& config, qint64 messageBytes)
{
    if (config.OverallTimeoutMs > 0) {
        return config.OverallTimeoutMs;
    }
    return 4 * static_cast<qint64>(connectTimeoutMs(config)) + messageBytes * 1000 / kSlowestBytesPerSecond;
}

// "15", "1.5": milliseconds as seconds, to a tenth, for a reason text.
QString seconds(qint64 ms)
{
    return QString::number(std::round(static_cast<double>(ms) / 100.0) / 10.0);
}

bool hasControlCharacters(const QByteArray& text)
{
    return std::any_of(text.cbegin(), text.cend(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

// An address goes into "MAIL FROM:<...>" and "RCPT TO:<...>" as it is; a line
// break or a bracket in it would end the command early or add another.
bool usableAddress(const QByteArray& address)
{
    return !hasControlCharacters(address) && !address.contains('<') && !address.contains('>');
}

// A host name or address literal that can stand in a URL's authority.
bool usableHost(const QString& host)
{
    return !host.isEmpty() && std::none_of(host.cbegin(), host.cend(), [](QChar c) {
        return c.unicode() <= 0x20 || c.unicode() == 0x7F || c == QLatin1Char('/') || c == QLatin1Char('?') ||
               c == QLatin1Char('#') || c == QLatin1Char('@') || c == QLatin1Char('\\');
    });
}

// The name this computer gives in EHLO; libcurl takes it from the URL's path.
QByteArray heloName()
{
    const QString name = SystemUtility::ComputerName();
    const bool plain = !name.isEmpty() && std::all_of(name.cbegin(), name.cend(), [](QChar c) {
        return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
               (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') || c == QLatin1Char('.');
    });
    return plain ? name.toLatin1() : QByteArrayLiteral("localhost");
}

QByteArray serverUrl(const SmtpConfig& config)
{
    QByteArray host = config.Server.toUtf8();
    if (host.contains(':') && !host.startsWith('[')) {
        host = '[' + host + ']'; // an IPv6 address
    }
    const QByteArray scheme = config.Security == SmtpConfig::Security::Tls ? "smtps://" : "smtp://";
    return scheme + host + ':' + QByteArray::number(config.Port) + '/' + QUrl::toPercentEncoding(heloName());
}

QString securityText(enum SmtpConfig::Security security)
{
    switch (security) {
    case SmtpConfig::Security::StartTls:
        return QStringLiteral("STARTTLS");
    case SmtpConfig::Security::Tls:
        return QStringLiteral("TLS");
    case SmtpConfig::Security::None:
        break;
    }
    return QStringLiteral("no encryption");
}

// The CA bundle this libcurl was built to trust.
QString systemCaBundle(CURL* curl)
{
#if LIBCURL_VERSION_NUM >= 0x075400
    char* path = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CAINFO, &path) == CURLE_OK && path && *path) {
        return QFile::decodeName(path);
    }
#else
    Q_UNUSED(curl);
#endif
    for (const char* candidate :
         {"/etc/ssl/certs/ca-certificates.crt", "/etc/pki/tls/certs/ca-bundle.crt", "/etc/ssl/cert.pem"}) {
        if (QFile::exists(QFile::decodeName(candidate))) {
            return QFile::decodeName(candidate);
        }
    }
    return {};
}

// What one submission learns while libcurl runs it, on the worker thread; read
// by the caller once the transfer is over.
struct Transfer
{
    const QByteArray* mime = nullptr;
    qsizetype sent = 0;
    const std::atomic<bool>* cancel = nullptr;
    std::vector<curl_socket_t> sockets; // open ones, under transfersLock()
    std::atomic<bool> cut {false};      // its connection was cut: it ends as cancelled

    SmtpDialogue dialogue;
    // When the transfer began, when either side last said something (a
    // command, a reply line, a piece of the message), and when it ended.
    std::chrono::steady_clock::time_point started, spoke, ended;

    [[nodiscard]] bool Cancelled() const { return cancel && cancel->load(); }
};

int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    switch (type) {
    case CURLINFO_HEADER_IN:
        transfer->dialogue.FromServer(QByteArrayView(data, static_cast<qsizetype>(size)));
        transfer->spoke = std::chrono::steady_clock::now();
        break;
    case CURLINFO_HEADER_OUT:
        transfer->dialogue.FromClient(QByteArrayView(data, static_cast<qsizetype>(size)));
        transfer->spoke = std::chrono::steady_clock::now();
        break;
    case CURLINFO_TEXT:
        transfer->dialogue.Note(QByteArrayView(data, static_cast<qsizetype>(size)));
        break;
    default:
        break; // the message itself and TLS records
    }
    return 0;
}

size_t onRead(char* buffer, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    transfer->spoke = std::chrono::steady_clock::now();
    const qsizetype room = static_cast<qsizetype>(size * count);
    const qsizetype n = std::min(room, transfer->mime->size() - transfer->sent);
    std::memcpy(buffer, transfer->mime->constData() + transfer->sent, static_cast<size_t>(n));
    transfer->sent += n;
    return static_cast<size_t>(n);
}

// Cancelling. libcurl sees an abort from its progress function only between
// waits, and after the message and for the goodbye (QUIT) it waits in loops
// of its own, seconds apart or, at clean-up, not at all. Shutting the
// connection's socket down ends every wait at once: a connect fails, a read
// sees the end, and no goodbye can be sent. libcurl's sockets are opened and
// closed here, under the lock the cut takes, so a cut never reaches a
// descriptor that was closed and then reused.
std::mutex& transfersLock()
{
    static std::mutex lock;
    return lock;
}

std::vector<Transfer*>& transfersInFlight()
{
    static std::vector<Transfer*> transfers;
    return transfers;
}

void cutLocked(Transfer& transfer)
{
    transfer.cut = true;
    for (const curl_socket_t socket : transfer.sockets) {
        ::shutdown(socket, SHUT_RDWR);
    }
}

curl_socket_t onOpenSocket(void* user, curlsocktype, curl_sockaddr* address)
{
    auto* transfer = static_cast<Transfer*>(user);
    const std::lock_guard lock(transfersLock());
    if (transfer->cut || transfer->Cancelled()) {
        return CURL_SOCKET_BAD;
    }
    const curl_socket_t socket = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (socket != CURL_SOCKET_BAD) {
        transfer->sockets.push_back(socket);
    }
    return socket;
}

int onCloseSocket(void* user, curl_socket_t socket)
{
    auto* transfer = static_cast<Transfer*>(user);
    const std::lock_guard lock(transfersLock());
    std::erase(transfer->sockets, socket);
    return ::close(socket);
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* transfer = static_cast<Transfer*>(user);
    if (!transfer->cut && !transfer->Cancelled()) {
        return 0;
    }
    const std::lock_guard lock(transfersLock());
    cutLocked(*transfer); // so no goodbye is waited for either
    return 1;
}

struct CurlDeleter
{
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

QString timedOutReason(const SmtpConfig& config, const Transfer& transfer, CURL* curl)
{
    const SmtpDialogue& dialogue = transfer.dialogue;
    const QString server =
        QStringLiteral("the server ") + config.Server + QStringLiteral(" port ") + QString::number(config.Port);
    curl_off_t connected = 0;
    curl_off_t handshaken = 0;
    curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connected);
    curl_easy_getinfo(curl, CURLINFO_APPCONNECT_TIME_T, &handshaken);

    // Whichever bound ran out, the wait it ended began when either side last
    // said something, or when the connection was made, or at the start.
    const auto waitedFrom = std::max(transfer.spoke, transfer.started + std::chrono::microseconds(connected));
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(transfer.ended - waitedFrom);
    const QString after = QStringLiteral("Timed out after ") + seconds(waited.count()) + QStringLiteral(" s ");

    if (connected == 0) {
        return after + QStringLiteral("connecting to ") + config.Server + QStringLiteral(" port ") +
               QString::number(config.Port);
    }
    QString what;
    if ((config.Security == SmtpConfig::Security::Tls && handshaken == 0) ||
        (dialogue.LastCommand() == "STARTTLS" && dialogue.LastCode() == 220)) {
        what = QStringLiteral(" to complete the TLS handshake");
    } else if (!dialogue.Replied() || dialogue.LastCommand().isEmpty()) {
        what = QStringLiteral(" to greet");
    } else if (dialogue.LastCommand() == "DATA" && dialogue.LastCode() == 354) {
        what = QStringLiteral(" to take the message");
    } else {
        what = QStringLiteral(" to answer ") + QString::fromLatin1(dialogue.LastCommand());
    }
    return after + QStringLiteral("waiting for ") + server + what;
}

QString
failureReason(const SmtpConfig& config, const Transfer& transfer, CURL* curl, CURLcode code, const char* errorBuffer)
{
    // The server's own answer says best what went wrong.
    if (!transfer.dialogue.ErrorReply().isEmpty()) {
        return QString::fromUtf8(transfer.dialogue.ErrorReply());
    }
    const QString where = config.Server + QStringLiteral(" port ") + QString::number(config.Port);
    const QString detail = *errorBuffer ? QString::fromUtf8(errorBuffer) : QString::fromUtf8(curl_easy_strerror(code));
    if (transfer.cut || code == CURLE_ABORTED_BY_CALLBACK) {
        return QStringLiteral("Sending to ") + where + QStringLiteral(" was cancelled");
    }
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return QStringLiteral("Could not resolve host ") + config.Server;
    case CURLE_COULDNT_CONNECT: {
        long osError = 0;
        curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osError);
        return QStringLiteral("Could not connect to ") + where + QStringLiteral(": ") +
               (osError != 0 ? QString::fromLocal8Bit(std::strerror(static_cast<int>(osError))) : detail);
    }
    case CURLE_OPERATION_TIMEDOUT:
        return timedOutReason(config, transfer, curl);
    case CURLE_USE_SSL_FAILED:
        return QStringLiteral("The server ") + where +
               QStringLiteral(" does not offer STARTTLS, and the mail is not sent without it");
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return QStringLiteral("The TLS connection to ") + where + QStringLiteral(" failed: ") + detail;
    case CURLE_LOGIN_DENIED:
        return QStringLiteral("Could not log in to ") + where + QStringLiteral(": ") + detail;
    default:
        return QStringLiteral("Sending to ") + where + QStringLiteral(" failed: ") + detail;
    }
}

CURLcode perform(CURL* curl, Transfer& transfer)
{
    const CURLcode code = curl_easy_perform(curl);
    transfer.ended = std::chrono::steady_clock::now();
    return code;
}

} // namespace

bool SmtpClient::Send(const SmtpConfig& config,
                      const QByteArray& envelopeFrom,
                      const QList<QByteArray>& recipients,
                      const QByteArray& mime,
                      QString& reason,
                      const std::atomic<bool>* cancel)
{
    // Nothing a reason or the log says may carry the password, whatever put it there.
    const auto withoutPassword = [&config](QString text) {
        if (!config.Password.isEmpty()) {
            text.replace(config.Password, QStringLiteral("********"));
        }
        return text;
    };
    const auto fail = [&](const QString& why) {
        reason = withoutPassword(why);
        DebugLog(QStringLiteral("SMTP: not sent: ") + reason, 5);
        return false;
    };

    if (!usableHost(config.Server)) {
        return fail(config.Server.isEmpty() ? QStringLiteral("No mail server is set")
                                            : QStringLiteral("The mail server '") + config.Server +
                                                  QStringLiteral("' is not a host name or address"));
    }
    if (config.Port < 1 || config.Port > 65535) {
        return fail(QStringLiteral("The SMTP port ") + QString::number(config.Port) +
                    QStringLiteral(" is not a port number (1 to 65535)"));
    }
    if (recipients.isEmpty()) {
        return fail(QStringLiteral("The message has no recipients"));
    }
    const auto unusable = [&](const QByteArray& address) {
        return fail(QStringLiteral("The address '") + QString::fromUtf8(address).simplified() +
                    QStringLiteral("' cannot be used in an SMTP command"));
    };
    if (!usableAddress(envelopeFrom)) { // empty is the null sender, "<>"
        return unusable(envelopeFrom);
    }
    for (const QByteArray& address : recipients) {
        if (address.isEmpty() || !usableAddress(address)) {
            return unusable(address);
        }
    }
    if (!curlReady()) {
        return fail(QStringLiteral("libcurl could not be initialised"));
    }
    // Declared first, so it outlives the handle, which may still close a socket.
    Transfer transfer;
    transfer.mime = &mime;
    transfer.cancel = cancel;
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) {
        return fail(QStringLiteral("libcurl could not start a transfer"));
    }
    CURL* h = curl.get();

    const QByteArray url = serverUrl(config);
    const qint64 overallMs = overallTimeoutMs(config, mime.size());
    const long silence = silenceSeconds(config);
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
#else
    curl_easy_setopt(h, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_SMTP | CURLPROTO_SMTPS));
#endif
    // Mail goes straight to its server; proxies in the environment are for the web.
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectTimeoutMs(config)));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(std::min<qint64>(overallMs, LONG_MAX)));
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, silence);
    // A server that stops taking the message: under a byte a second for as long.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, silence);
    // The goodbye is said within the transfer, where a cancel reaches it, not at clean-up.
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, onOpenSocket);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETFUNCTION, onCloseSocket);
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETDATA, &transfer);

    // Encryption, once asked for, is required: no falling back to plain text.
    curl_easy_setopt(
        h,
        CURLOPT_USE_SSL,
        static_cast<long>(config.Security == SmtpConfig::Security::None ? CURLUSESSL_NONE : CURLUSESSL_ALL));
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);

    // The CAs trusted. libcurl with OpenSSL takes a bundle file (CURLOPT_CAINFO,
    // by default the system's) or an in-memory bundle (CURLOPT_CAINFO_BLOB),
    // and the in-memory one replaces the file; naming the extra file either way
    // would drop the system's CAs. So the system bundle and the extra file are
    // joined and handed over in memory; a libcurl without in-memory bundles
    // gets the same text as a private temporary file. The CA folder
    // (CURLOPT_CAPATH) stays as built and adds to either.
    QByteArray caBundle;
    std::unique_ptr<QTemporaryFile> caFile;
    if (config.Security != SmtpConfig::Security::None && !config.CAFile.isEmpty()) {
        // A bundle of every public CA is under 1 MB; 16 MB leaves room and keeps a wrong file out of memory.
        constexpr qint64 maxCaBytes = 16 * 1024 * 1024;
        QByteArray extraCas;
        QString why;
        if (!FileSystemUtility::ReadRegularFile(config.CAFile, maxCaBytes, extraCas, why)) {
            return fail(QStringLiteral("Could not read the CA file '") + config.CAFile + QStringLiteral("': ") + why);
        }
        const QString system = systemCaBundle(h);
        if (!system.isEmpty() && !FileSystemUtility::ReadRegularFile(system, maxCaBytes, caBundle, why)) {
            DebugLog(QStringLiteral("SMTP: the system's CAs in ") + system + QStringLiteral(" were not read: ") + why,
                     5);
        }
        if (!caBundle.isEmpty() && !caBundle.endsWith('\n')) {
            caBundle += '\n';
        }
        caBundle += extraCas;
        curl_blob blob {caBundle.data(), static_cast<size_t>(caBundle.size()), CURL_BLOB_NOCOPY};
        if (curl_easy_setopt(h, CURLOPT_CAINFO_BLOB, &blob) != CURLE_OK) {
            caFile = std::make_unique<QTemporaryFile>();
            if (!caFile->open() || caFile->write(caBundle) != caBundle.size() || !caFile->flush()) {
                return fail(QStringLiteral("Could not join the CA file '") + config.CAFile +
                            QStringLiteral("' with the system's CAs: ") + caFile->errorString());
            }
            curl_easy_setopt(h, CURLOPT_CAINFO, QFile::encodeName(caFile->fileName()).constData());
        }
    }

    const QByteArray user = config.UserName.toUtf8();
    const QByteArray password = config.Password.toUtf8();
    if (!config.UserName.isEmpty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(h, CURLOPT_PASSWORD, password.constData());
    }

    const QByteArray from = '<' + envelopeFrom + '>';
    curl_easy_setopt(h, CURLOPT_MAIL_FROM, from.constData());
    std::unique_ptr<curl_slist, CurlDeleter> rcpt;
    for (const QByteArray& address : recipients) {
        const QByteArray to = '<' + address + '>';
        curl_slist* longer = curl_slist_append(rcpt.get(), to.constData());
        if (!longer) {
            return fail(QStringLiteral("Out of memory for the recipients"));
        }
        rcpt.release();
        rcpt.reset(longer);
    }
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT, rcpt.get());

    // libcurl escapes lines that start with "." and ends the data with CRLF "." CRLF.
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, onRead);
    curl_easy_setopt(h, CURLOPT_READDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(mime.size()));

    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L); // the debug function sees nothing otherwise
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, onDebug);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);

    QStringList to;
    for (const QByteArray& address : recipients) {
        to << QString::fromUtf8(address);
    }
    DebugLog(withoutPassword(
                 QStringLiteral("SMTP: sending ") + QString::number(mime.size()) + QStringLiteral(" bytes from <") +
                 QString::fromUtf8(envelopeFrom) + QStringLiteral("> to <") + to.join(QStringLiteral(">, <")) +
                 QStringLiteral("> via ") + config.Server + QStringLiteral(" port ") + QString::number(config.Port) +
                 QStringLiteral(" with ") + securityText(config.Security) +
                 (config.UserName.isEmpty() ? QString() : QStringLiteral(", logging in as ") + config.UserName)),
             5);

    {
        const std::lock_guard lock(transfersLock());
        transfersInFlight().push_back(&transfer);
    }
    transfer.started = transfer.spoke = std::chrono::steady_clock::now();
    const CURLcode code = perform(h, transfer);
    {
        const std::lock_guard lock(transfersLock());
        std::erase(transfersInFlight(), &transfer);
    }

    for (const QString& line : transfer.dialogue.Transcript()) {
        DebugLog(QStringLiteral("SMTP ") + withoutPassword(line), 10);
    }
    if (code == CURLE_OK) {
        DebugLog(withoutPassword(QStringLiteral("SMTP: accepted by ") + config.Server + QStringLiteral(": ") +
                                 QString::fromUtf8(transfer.dialogue.LastReply())),
                 5);
        return true;
    }
    return fail(failureReason(config, transfer, h, code, errorBuffer));
}

void SmtpClient::CutCancelled()
{
    const std::lock_guard lock(transfersLock());
    for (Transfer* transfer : transfersInFlight()) {
        if (transfer->Cancelled()) {
            cutLocked(*transfer);
        }
    }
}
