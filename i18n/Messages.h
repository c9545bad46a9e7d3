// The tools' messages in the operator's language.  The code holds the
// English text; the catalogue of the locale (po/cs.po for Czech) its
// translation.  `_("...")` translates, `N_("...")` only marks a text that a
// table holds and `_` translates where it is shown.  Values go into a text
// through %s, so that a translation keeps them whole:
//     Say(i18n::Fill(_("File %s cannot be read (%s)"), path, why));
#pragma once

#include <string>
#include <string_view>
#include <type_traits>

namespace i18n {

// Takes the locale from the environment (LC_ALL, LC_MESSAGES, LANG) and
// binds the catalogues; at the start of main, and at a plug-in's entry (it
// links a copy of its own).
void Start();

// The translation of `english` in the operator's language, or the text itself.
const char* Tr(const char* english);

namespace detail {
inline std::string Text(std::string_view text) { return std::string(text); }
inline std::string Text(const std::string& text) { return text; }
inline std::string Text(const char* text) { return text ? text : ""; }
template <typename Number, typename = std::enable_if_t<std::is_arithmetic_v<Number>>>
std::string Text(Number n) {
    return std::to_string(n);
}
std::string Fill(std::string_view pattern, const std::string* values, size_t count);
}  // namespace detail

// The pattern with each %s replaced by the next value, in order; %% is %.
template <typename... Values>
std::string Fill(std::string_view pattern, const Values&... values) {
    const std::string texts[] = {std::string(), detail::Text(values)...};
    return detail::Fill(pattern, texts + 1, sizeof...(values));
}

}  // namespace i18n

#define _(text) ::i18n::Tr(text)
#define N_(text) text
