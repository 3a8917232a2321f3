#include "support/dat_builder.h"

#include <nettle/md5.h>
#include <nettle/sha1.h>
#include <nettle/sha2.h>
#include <zlib.h>

#include <cstdio>

namespace parevo::test {

namespace {

std::string Hex(const std::uint8_t* bytes, size_t size) {
    std::string text;
    char pair[3];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

std::string Attribute(const char* name, const std::string& value) {
    return value.empty() ? std::string() : std::string(" ") + name + "=\"" + value + "\"";
}

std::string Pair(const char* name, const std::string& value, bool quoted = false) {
    if (value.empty()) {
        return std::string();
    }
    return std::string(" ") + name + " " + (quoted ? "\"" + value + "\"" : value);
}

}  // namespace

DatRow RowFor(const std::string& game, const std::vector<std::uint8_t>& image,
              const std::string& serial, bool withSha256) {
    DatRow row;
    row.game = game;
    row.rom = game + ".nds";
    row.size = std::to_string(image.size());
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08lx",
                  ::crc32(0, image.data(), static_cast<uInt>(image.size())));
    row.crc = crc;
    md5_ctx md5;
    md5_init(&md5);
    md5_update(&md5, image.size(), image.data());
    std::uint8_t md5Digest[MD5_DIGEST_SIZE];
    md5_digest(&md5, sizeof md5Digest, md5Digest);
    row.md5 = Hex(md5Digest, sizeof md5Digest);
    sha1_ctx sha1;
    sha1_init(&sha1);
    sha1_update(&sha1, image.size(), image.data());
    std::uint8_t sha1Digest[SHA1_DIGEST_SIZE];
    sha1_digest(&sha1, sizeof sha1Digest, sha1Digest);
    row.sha1 = Hex(sha1Digest, sizeof sha1Digest);
    if (withSha256) {
        sha256_ctx sha256;
        sha256_init(&sha256);
        sha256_update(&sha256, image.size(), image.data());
        std::uint8_t sha256Digest[SHA256_DIGEST_SIZE];
        sha256_digest(&sha256, sizeof sha256Digest, sha256Digest);
        row.sha256 = Hex(sha256Digest, sizeof sha256Digest);
    }
    row.serial = serial;
    return row;
}

std::string LogiqxDat(const std::vector<DatRow>& rows, const std::string& name) {
    std::string text =
        "<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE datafile PUBLIC \"-//Logiqx//DTD ROM Management Datafile//EN\" "
        "\"http://www.logiqx.com/Dats/datafile.dtd\">\n"
        "<datafile>\n\t<header>\n\t\t<name>" +
        name + "</name>\n\t\t<version>20240101-000000</version>\n\t</header>\n";
    for (const DatRow& row : rows) {
        text += "\t<game name=\"" + row.game + "\" id=\"0001\">\n\t\t<description>" + row.game +
                "</description>\n\t\t<rom" + Attribute("name", row.rom) +
                Attribute("size", row.size) + Attribute("crc", row.crc) +
                Attribute("md5", row.md5) + Attribute("sha1", row.sha1) +
                Attribute("sha256", row.sha256) + Attribute("status", row.status) +
                Attribute("serial", row.serial) + "/>\n\t</game>\n";
    }
    return text + "</datafile>\n";
}

std::string ClrMameProDat(const std::vector<DatRow>& rows, const std::string& name) {
    std::string text = "clrmamepro (\n\tname \"" + name + "\"\n\tdescription \"" + name +
                       "\"\n\tversion 20240101-000000\n)\n";
    for (const DatRow& row : rows) {
        text += "\ngame (\n\tname \"" + row.game + "\"\n\tdescription \"" + row.game + "\"\n" +
                (row.serial.empty() ? "" : "\tserial \"" + row.serial + "\"\n") + "\trom (" +
                Pair("name", row.rom, true) + Pair("size", row.size) + Pair("crc", row.crc) +
                Pair("md5", row.md5) + Pair("sha1", row.sha1) + Pair("sha256", row.sha256) +
                Pair("status", row.status) + " )\n)\n";
    }
    return text;
}

}  // namespace parevo::test
