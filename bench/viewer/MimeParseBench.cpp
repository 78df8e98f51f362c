// What reading a large captured message costs: a 20 MiB message of text, HTML, an inline image
// and attachments, parsed as the message window parses it, and one attachment decoded as
// "Save as..." decodes it; then an ordinary message, as each step with "<" and ">" parses one.

#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include <time.h>

#include <QByteArray>

#include "MimeMessage.h"

namespace {

using Clock = std::chrono::steady_clock;

// Base64 in lines of 76, as mail programs write it.
std::string base64Lines(std::size_t bytes, unsigned seed)
{
    std::mt19937 random(seed);
    QByteArray data(qsizetype(bytes), Qt::Uninitialized);
    for (char& c : data)
        c = char(random());
    const QByteArray encoded = data.toBase64();
    std::string out;
    out.reserve(std::size_t(encoded.size()) + std::size_t(encoded.size()) / 38);
    for (qsizetype at = 0; at < encoded.size(); at += 76)
        out.append(encoded.constData() + at, std::size_t(std::min<qsizetype>(76, encoded.size() - at))).append("\r\n");
    return out;
}

std::string largeMessage(std::size_t mebibytes)
{
    // What is left after the text, the HTML and the image goes to two attachments, 3:1.
    const std::size_t encodedAttachments = (mebibytes << 20) - (200u << 10);
    const std::size_t raw = encodedAttachments / 4 * 3 / 78 * 76;
    std::string text, html;
    for (int i = 0; i < 400; ++i) {
        text += "Line " + std::to_string(i) + " of the text, with an umlaut: Gr=C3=BC=C3=9Fe.\r\n";
        html += "<tr><td style=3D\"padding:4px\">Row " + std::to_string(i) + "</td><td>Gr=C3=BC=C3=9Fe</td></tr>\r\n";
    }
    return "From: =?utf-8?q?J=C3=BCrgen?= <j@example.org>\r\nTo: a@example.org\r\nSubject: =?utf-8?q?Gro=C3=9F?=\r\n"
           "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"mixed\"\r\n\r\n"
           "--mixed\r\nContent-Type: multipart/related; boundary=\"related\"\r\n\r\n"
           "--related\r\nContent-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n"
           "--alt\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
        + text
        + "--alt\r\nContent-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
          "<html><body><img src=3D\"cid:logo@x\"><table>\r\n"
        + html + "</table></body></html>\r\n--alt--\r\n"
        + "--related\r\nContent-Type: image/png\r\nContent-ID: <logo@x>\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        + base64Lines(60u << 10, 1) + "--related--\r\n"
        + "--mixed\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"big.pdf\"\r\n"
          "Content-Transfer-Encoding: base64\r\n\r\n"
        + base64Lines(raw / 4 * 3, 2)
        + "--mixed\r\nContent-Type: application/zip\r\nContent-Disposition: attachment; filename=\"small.zip\"\r\n"
          "Content-Transfer-Encoding: base64\r\n\r\n"
        + base64Lines(raw / 4, 3) + "--mixed--\r\n";
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// The best wall-clock and CPU time of some runs: the machine's other load only adds to them.
struct Best {
    double wall = 1e300;
    double cpu = 1e300;
};

template <class Action> Best bestOf(int runs, Action action)
{
    Best best;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        const double cpuStart = threadCpuMs();
        action();
        best.cpu = std::min(best.cpu, threadCpuMs() - cpuStart);
        best.wall = std::min(best.wall, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return best;
}

} // namespace

void mimeParse(std::size_t mebibytes)
{
    const std::string large = largeMessage(mebibytes);
    Mime::Message message;
    const Best parse = bestOf(5, [&] { message = Mime::parse(large); });
    std::printf("MIME message of %.1f MiB: %zu attachments, %zu inline, text %zu and HTML %zu bytes\n",
                double(large.size()) / (1 << 20), message.attachments.size(), message.inlineParts.size(),
                message.text.size(), message.html.size());
    std::printf("  parsed, every part measured (best of 5)  %8.1f ms, CPU %.1f ms\n", parse.wall, parse.cpu);
    std::size_t bytes = 0;
    const Best save = bestOf(5, [&] { bytes = Mime::partContent(large, "2").value_or("").size(); });
    std::printf("  the %.1f MiB attachment decoded           %8.1f ms, CPU %.1f ms\n", double(bytes) / (1 << 20),
                save.wall, save.cpu);

    std::string ordinary
        = "From: a@example.org\r\nTo: b@example.org\r\nSubject: ordinary\r\n"
          "Content-Type: multipart/alternative; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\n";
    for (int i = 0; i < 60; ++i)
        ordinary += "An ordinary line of a captured message, line " + std::to_string(i) + ".\r\n";
    ordinary += "--b\r\nContent-Type: text/html\r\n\r\n<p>" + std::string(3000, 'x') + "</p>\r\n--b--\r\n";
    const Best step = bestOf(100, [&] { message = Mime::parse(ordinary); });
    std::printf("  an ordinary message of %zu bytes (best of 100) %.3f ms, CPU %.3f ms\n", ordinary.size(), step.wall,
                step.cpu);
}
