// Every file failure (files::Failure) in words, from one table: the tools'
// English through the message catalogue (po/cs.po), and the Czech that the
// program's windows show whatever the locale.  The system's text of the
// errno behind a failure follows the locale too (the C library's catalogue).
#pragma once

#include "Files.h"

#include <string>

namespace i18n {

// The reason alone, in the operator's language: "not a regular file".
std::string FileReason(const files::Failure& failure);
// The whole sentence with the file's name, in the operator's language:
// "File x is not a regular file; nothing was written".
std::string FileProblem(const files::Failure& failure);
// The reason as the program's windows show it, in Czech: "není to obyčejný soubor".
std::string FileReasonCzech(const files::Failure& failure);

}  // namespace i18n
