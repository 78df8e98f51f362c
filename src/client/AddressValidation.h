#pragma once

#include <string>
#include <string_view>
#include <vector>

// Checks of mail addresses and host names, and the list form of the address properties.

// The top-level domains a domain may end in: codes separated by single blanks.
inline constexpr std::string_view TopLevelDomainList
    = "AERO BIZ COM COOP EDU GOV INFO INT MIL MUSEUM NAME NET ORG PRO ARPA AC AD AE AF AG AI AL "
      "AM AN AO AQ AR AS AT AU AW AZ BA BB BD BE BF BG BH BI BJ BM BN BO BR BS BT BV BW BY BZ "
      "CA CC CD CF CG CH CI CK CL CM CN CO CR CU CV CX CY CZ DE DJ DK DM DO DZ EC EE EG EH ER "
      "ES ET FI FJ FK FM FO FR GA GD GE GF GG GH GI GL GM GN GP GQ GR GS GT GU GW GY HK HM HN "
      "HR HT HU ID IE IL IM IN IO IQ IR IS IT JE JM JO JP KE KG KH KI KM KN KP KR KW KY KZ LA "
      "LB LC LI LK LR LS LT LU LV LY MA MC MD MG MH MK ML MM MN MO MP MQ MR MS MT MU MV MW MX "
      "MY MZ NA NC NE NF NG NI NL NO NP NR NU NZ OM PA PE PF PG PH PK PL PM PN PR PS PT PW PY "
      "QA RE RO RU RW SA SB SC SD SE SG SH SI SJ SK SL SM SN SO SR ST SV SY SZ TC TD TF TG TH "
      "TJ TK TM TN TO TP TR TT TV TW TZ UA UG UK UM US UY UZ VA VC VE VG VI VN VU WF WS YE YT "
      "YU ZA ZM ZW";

// The reserved loopback host name (RFC 6761), in upper case.
inline constexpr std::string_view LoopbackHostName = "LOCALHOST";

// Four dotted decimal numbers, the first at most 239 (no multicast or reserved), the others at most 255.
bool IsIPAddressLiteral(std::string_view text);

// A loopback name, an address literal, or two labels or more whose last label occurs in the list
// text (as a substring: part of a code, or an empty label, passes too). Blanks around are ignored.
bool IsValidDomain(std::string_view domain);

// Exactly one "@" and a valid domain behind it; the local part is not examined.
bool IsValidEmailAddress(std::string_view address);

// Splits at every occurrence of the delimiter, letter case ignored; empty entries stay.
// An empty value gives no entries; an empty delimiter gives the whole value as one entry.
std::vector<std::string> splitList(std::string_view value, std::string_view delimiter);

// Removes leading and trailing blanks, then every CR LF pair, then every tab, of each entry.
void TrimListEntries(std::vector<std::string>& entries);

// The entries joined with the delimiter.
std::string joinList(const std::vector<std::string>& entries, std::string_view delimiter);
