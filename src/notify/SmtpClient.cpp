#include "notify/SmtpClient.h"

#include "support/DebugLog.h"
#include "support/FileSystemUtility.h"
#include "support/SystemUtility.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QStringList>
#include <QTemporaryFile>
#include <QThread>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

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

// "15", "1.5": milliseconds as seconds for a reason text.
QString seconds(qint64 ms)
{
    return QString::number(static_cast<double>(ms) / 1000.0, 'g', 6);
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

// One line of the dialogue, split out of what libcurl reports in pieces.
void takeLines(QByteArray& pending, const char* data, size_t size, const std::function<void(QByteArray)>& line)
{
    pending.append(data, static_cast<qsizetype>(size));
    qsizetype end = 0;
    while ((end = pending.indexOf('\n')) >= 0) {
        QByteArray text = pending.left(end);
        pending.remove(0, end + 1);
        if (text.endsWith('\r')) {
            text.chop(1);
        }
        line(text);
    }
}

// What one submission learns while libcurl runs it, on the worker thread; read
// by the caller once the transfer is over.
struct Transfer
{
    const QByteArray* mime = nullptr;
    qsizetype sent = 0;
    const std::atomic<bool>* cancel = nullptr;

    QByteArray fromServer; // a line not yet ended
    QByteArray toServer;
    QByteArray lastCommand; // its verb: "EHLO", "RCPT"
    int lastCode = 0;       // of the server's last complete reply
    QByteArray lastReply;
    QByteArray errorReply; // the server's 4xx or 5xx answer to the last command
    bool replied = false;
    bool mailStarted = false; // MAIL FROM went out: greeting, TLS and login are done
    bool quitting = false;    // replies to QUIT say nothing about the message
    bool credentials = false; // the server asked for the next piece of a login
    QStringList transcript;   // for the log, without credentials

    void ServerLine(const QByteArray& line)
    {
        transcript << QStringLiteral("S: ") + QString::fromUtf8(line);
        replied = true;
        if (quitting || line.size() < 3 ||
            !std::all_of(line.cbegin(), line.cbegin() + 3, [](char c) { return c >= '0' && c <= '9'; })) {
            return;
        }
        if (line.size() > 3 && line[3] != ' ') {
            return; // "250-..." : more lines of this reply follow
        }
        lastCode = line.left(3).toInt();
        lastReply = line;
        errorReply = lastCode >= 400 ? line : QByteArray();
        credentials = lastCode == 334;
    }

    void ClientLine(const QByteArray& line)
    {
        const qsizetype space = line.indexOf(' ');
        const QByteArray verb = (space < 0 ? line : line.left(space)).toUpper();
        if (quitting || verb == "QUIT") {
            // After a failure libcurl says goodbye; the failure's reply stays the one to report.
            transcript << QStringLiteral("C: ") + QString::fromUtf8(line);
            quitting = true;
            return;
        }
        errorReply.clear();
        if (credentials) {
            transcript << QStringLiteral("C: (credentials not logged)");
            return;
        }
        if (verb == "AUTH") {
            const QList<QByteArray> words = line.split(' ');
            transcript << QStringLiteral("C: AUTH ") + QString::fromLatin1(words.value(1)) +
                              (words.size() > 2 ? QStringLiteral(" (credentials not logged)") : QString());
        } else {
            transcript << QStringLiteral("C: ") + QString::fromUtf8(line);
        }
        lastCommand = verb;
        mailStarted = mailStarted || verb == "MAIL";
    }
};

int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    switch (type) {
    case CURLINFO_HEADER_IN:
        takeLines(transfer->fromServer, data, size, [transfer](const QByteArray& l) { transfer->ServerLine(l); });
        break;
    case CURLINFO_HEADER_OUT:
        takeLines(transfer->toServer, data, size, [transfer](const QByteArray& l) { transfer->ClientLine(l); });
        break;
    case CURLINFO_TEXT:
        transfer->transcript << QStringLiteral("* ") + QString::fromUtf8(data, static_cast<qsizetype>(size)).trimmed();
        break;
    default:
        break; // the message itself and TLS records
    }
    return 0;
}

size_t onRead(char* buffer, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    const qsizetype room = static_cast<qsizetype>(size * count);
    const qsizetype n = std::min(room, transfer->mime->size() - transfer->sent);
    std::memcpy(buffer, transfer->mime->constData() + transfer->sent, static_cast<size_t>(n));
    transfer->sent += n;
    return static_cast<size_t>(n);
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* transfer = static_cast<const Transfer*>(user);
    return transfer->cancel && transfer->cancel->load() ? 1 : 0;
}

struct CurlDeleter
{
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

QString timedOutReason(const SmtpConfig& config, const Transfer& transfer, CURL* curl, qint64 overallMs)
{
    const QString server =
        QStringLiteral("the server ") + config.Server + QStringLiteral(" port ") + QString::number(config.Port);
    curl_off_t connected = 0;
    curl_off_t handshaken = 0;
    curl_off_t elapsed = 0;
    curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connected);
    curl_easy_getinfo(curl, CURLINFO_APPCONNECT_TIME_T, &handshaken);
    curl_easy_getinfo(curl, CURLINFO_TOTAL_TIME_T, &elapsed);

    // Until MAIL FROM the connect time-out runs (from the start); after it, the
    // silence bound runs from the last command, and the overall bound throughout.
    qint64 boundMs = std::min<qint64>(connectTimeoutMs(config), overallMs);
    if (transfer.mailStarted) {
        boundMs = elapsed / 1000 + 250 >= overallMs ? overallMs : silenceSeconds(config) * 1000;
    }
    const QString after = QStringLiteral("Timed out after ") + seconds(boundMs) + QStringLiteral(" s ");

    if (connected == 0) {
        return after + QStringLiteral("connecting to ") + config.Server + QStringLiteral(" port ") +
               QString::number(config.Port);
    }
    QString what;
    if ((config.Security == SmtpConfig::Security::Tls && handshaken == 0) ||
        (transfer.lastCommand == "STARTTLS" && transfer.lastCode == 220)) {
        what = QStringLiteral(" to complete the TLS handshake");
    } else if (!transfer.replied || transfer.lastCommand.isEmpty()) {
        what = QStringLiteral(" to greet");
    } else if (transfer.lastCommand == "DATA" && transfer.lastCode == 354) {
        what = QStringLiteral(" to take the message");
    } else {
        what = QStringLiteral(" to answer ") + QString::fromLatin1(transfer.lastCommand);
    }
    return after + QStringLiteral("waiting for ") + server + what;
}

QString failureReason(const SmtpConfig& config,
                      const Transfer& transfer,
                      CURL* curl,
                      CURLcode code,
                      const char* errorBuffer,
                      qint64 overallMs)
{
    // The server's own answer says best what went wrong.
    if (!transfer.errorReply.isEmpty()) {
        return QString::fromUtf8(transfer.errorReply);
    }
    const QString where = config.Server + QStringLiteral(" port ") + QString::number(config.Port);
    const QString detail = *errorBuffer ? QString::fromUtf8(errorBuffer) : QString::fromUtf8(curl_easy_strerror(code));
    switch (code) {
    case CURLE_ABORTED_BY_CALLBACK:
        return QStringLiteral("Sending to ") + where + QStringLiteral(" was cancelled");
    case CURLE_COULDNT_RESOLVE_HOST:
        return QStringLiteral("Could not resolve host ") + config.Server;
    case CURLE_COULDNT_CONNECT: {
        long osError = 0;
        curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osError);
        return QStringLiteral("Could not connect to ") + where + QStringLiteral(": ") +
               (osError != 0 ? QString::fromLocal8Bit(std::strerror(static_cast<int>(osError))) : detail);
    }
    case CURLE_OPERATION_TIMEDOUT:
        return timedOutReason(config, transfer, curl, overallMs);
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

// Runs the transfer. In the program's main thread it runs on a worker while a
// local event loop keeps painting and timers going; user input waits, so the
// send cannot be started again from inside itself. Elsewhere it runs here.
CURLcode perform(CURL* curl)
{
    CURLcode code = CURLE_OK;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || app->thread() != QThread::currentThread()) {
        return curl_easy_perform(curl);
    }
    QEventLoop loop;
    std::thread worker([&] {
        code = curl_easy_perform(curl);
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    // The loop also ends when the application quits; the transfer is bounded.
    worker.join();
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
    Transfer transfer;
    transfer.mime = &mime;
    transfer.cancel = cancel;
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

    const CURLcode code = perform(h);

    for (const QString& line : std::as_const(transfer.transcript)) {
        DebugLog(QStringLiteral("SMTP ") + withoutPassword(line), 10);
    }
    if (code == CURLE_OK) {
        DebugLog(withoutPassword(QStringLiteral("SMTP: accepted by ") + config.Server + QStringLiteral(": ") +
                                 QString::fromUtf8(transfer.lastReply)),
                 5);
        return true;
    }
    return fail(failureReason(config, transfer, h, code, errorBuffer, overallMs));
}
