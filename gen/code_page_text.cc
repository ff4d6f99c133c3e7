#include "gen/code_page_text.h"

namespace quillon::gen {
namespace {

// Each pair is the text in UTF-8 and in the code page; the tests check the second against the
// system's own conversion.
constexpr Text k1251Words[] = {{"Отчёт", "\xCE\xF2\xF7\xB8\xF2"},
                               {"за", "\xE7\xE0"},
                               {"неделю", "\xED\xE5\xE4\xE5\xEB\xFE"},
                               {"встреча", "\xE2\xF1\xF2\xF0\xE5\xF7\xE0"},
                               {"проект", "\xEF\xF0\xEE\xE5\xEA\xF2"},
                               {"бюджет", "\xE1\xFE\xE4\xE6\xE5\xF2"},
                               {"привет", "\xEF\xF0\xE8\xE2\xE5\xF2"},
                               {"письмо", "\xEF\xE8\xF1\xFC\xEC\xEE"},
                               {"фотографии", "\xF4\xEE\xF2\xEE\xE3\xF0\xE0\xF4\xE8\xE8"},
                               {"договор", "\xE4\xEE\xE3\xEE\xE2\xEE\xF0"},
                               {"срочно", "\xF1\xF0\xEE\xF7\xED\xEE"},
                               {"вопрос", "\xE2\xEE\xEF\xF0\xEE\xF1"}};
constexpr Text k1251Names[] = {
    {"Иван Петров", "\xC8\xE2\xE0\xED \xCF\xE5\xF2\xF0\xEE\xE2"},
    {"Ольга Смирнова", "\xCE\xEB\xFC\xE3\xE0 \xD1\xEC\xE8\xF0\xED\xEE\xE2\xE0"},
    {"Сергей Кузнецов", "\xD1\xE5\xF0\xE3\xE5\xE9 \xCA\xF3\xE7\xED\xE5\xF6\xEE\xE2"},
    {"Наталья Попова", "\xCD\xE0\xF2\xE0\xEB\xFC\xFF \xCF\xEE\xEF\xEE\xE2\xE0"},
    {"Дмитрий Соколов", "\xC4\xEC\xE8\xF2\xF0\xE8\xE9 \xD1\xEE\xEA\xEE\xEB\xEE\xE2"},
    {"Елена Лебедева", "\xC5\xEB\xE5\xED\xE0 \xCB\xE5\xE1\xE5\xE4\xE5\xE2\xE0"}};
constexpr Text k1251Folders[] = {{"Работа", "\xD0\xE0\xE1\xEE\xF2\xE0"},
                                 {"Личное", "\xCB\xE8\xF7\xED\xEE\xE5"}};

constexpr Text k936Words[] = {
    {"会议", "\xBB\xE1\xD2\xE9"}, {"报告", "\xB1\xA8\xB8\xE6"}, {"项目", "\xCF\xEE\xC4\xBF"},
    {"预算", "\xD4\xA4\xCB\xE3"}, {"你好", "\xC4\xE3\xBA\xC3"}, {"照片", "\xD5\xD5\xC6\xAC"},
    {"合同", "\xBA\xCF\xCD\xAC"}, {"紧急", "\xBD\xF4\xBC\xB1"}, {"问题", "\xCE\xCA\xCC\xE2"},
    {"周末", "\xD6\xDC\xC4\xA9"}, {"通知", "\xCD\xA8\xD6\xAA"}, {"计划", "\xBC\xC6\xBB\xAE"}};
constexpr Text k936Names[] = {{"张伟", "\xD5\xC5\xCE\xB0"}, {"王芳", "\xCD\xF5\xB7\xBC"},
                              {"李娜", "\xC0\xEE\xC4\xC8"}, {"刘洋", "\xC1\xF5\xD1\xF3"},
                              {"陈静", "\xB3\xC2\xBE\xB2"}, {"杨磊", "\xD1\xEE\xC0\xDA"}};
constexpr Text k936Folders[] = {{"工作", "\xB9\xA4\xD7\xF7"}, {"个人", "\xB8\xF6\xC8\xCB"}};

constexpr Text k1252Words[] = {{"Réunion", "R\xE9union"},
                               {"Büro", "B\xFCro"},
                               {"Grüße",
                                "Gr\xFC\xDF"
                                "e"},
                               {"café", "caf\xE9"},
                               {"déjà", "d\xE9j\xE0"},
                               {"naïve", "na\xEFve"},
                               {"Straße",
                                "Stra\xDF"
                                "e"},
                               {"Köln", "K\xF6ln"},
                               {"über",
                                "\xFC"
                                "ber"},
                               {"façade",
                                "fa\xE7"
                                "ade"},
                               {"señor", "se\xF1or"},
                               {"Ärger", "\xC4rger"}};
constexpr Text k1252Names[] = {{"José García",
                                "Jos\xE9 Garc\xED"
                                "a"},
                               {"Zoë Müller", "Zo\xEB M\xFCller"},
                               {"François Lefèvre", "Fran\xE7ois Lef\xE8vre"},
                               {"Søren Ødegård",
                                "S\xF8ren \xD8"
                                "deg\xE5rd"},
                               {"Inês Simões",
                                "In\xEAs Sim\xF5"
                                "es"},
                               {"Jürgen Weiß", "J\xFCrgen Wei\xDF"}};
constexpr Text k1252Folders[] = {{"Büro", "B\xFCro"}, {"Privé", "Priv\xE9"}};

constexpr CodePageText kCodePages[] = {
    {1251, "windows-1251", k1251Words, k1251Names, k1251Folders},
    {936, "gb2312", k936Words, k936Names, k936Folders},
    {1252, "iso-8859-1", k1252Words, k1252Names, k1252Folders},
};

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

const CodePageText* FindCodePageText(uint32_t codePage) {
  for (const CodePageText& t : kCodePages) {
    if (t.codePage == codePage) return &t;
  }
  return nullptr;
}

std::string EncodedWordB(const char* charset, const std::string& bytes) {
  std::string out = std::string("=?") + charset + "?B?";
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    uint32_t v = 0;
    for (size_t k = 0; k < 3; ++k) {
      v = v << 8 | (k < n ? static_cast<uint8_t>(bytes[i + k]) : 0u);
    }
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += n > 1 ? kBase64[(v >> 6) & 63] : '=';
    out += n > 2 ? kBase64[v & 63] : '=';
  }
  return out + "?=";
}

std::string EncodedWordQ(const char* charset, const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = std::string("=?") + charset + "?Q?";
  for (char c : bytes) {
    const uint8_t b = static_cast<uint8_t>(c);
    if (b == ' ') {
      out += '_';
    } else if (b < 0x80 && b > 0x20 && b != '=' && b != '?' && b != '_') {
      out += c;
    } else {
      out += '=';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out + "?=";
}

}  // namespace quillon::gen
