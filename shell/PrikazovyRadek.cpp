#include "PrikazovyRadek.h"

#include "Dekl.h"
#include "Interfaces.h"
#include "kv_version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <dlfcn.h>
#include <iostream>

namespace {

// Qt's own options, which QApplication takes from the command line: known
// here, hidden from the help, so that the whole line is checked before a
// display is needed.  Both -platform and --platform reach Qt.
struct TVolbaQt {
    const char* Jmeno;
    bool SHodnotou;
};
constexpr TVolbaQt VolbyQt[] = {
    {"platform", true}, {"platformpluginpath", true}, {"platformtheme", true}, {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowicon", true}, {"qwindowtitle", true}, {"geometry", true},
    {"title", true}, {"name", true}, {"display", true}, {"style", true}, {"stylesheet", true},
    {"session", true}, {"qmljsdebugger", true}, {"reverse", false}, {"nograb", false}, {"dograb", false},
    {"sync", false}, {"widgetcount", false}, {"testability", false},
};

void NastavParser(QCommandLineParser& Parser) {
    Parser.setApplicationDescription(
        "Set-up and monitoring tool for the KV-618 digital I/O module and its KV-619 counter extension.\n"
        "Settings file: " + QString::fromStdString(CestaNastaveni()));
    // -platform is one of Qt's options, not -p -l -a ...
    Parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    Parser.addHelpOption();
    Parser.addVersionOption();
    Parser.addOption({"settings", "Use FILE as the settings file instead of the usual one.", "FILE"});
    for (const TVolbaQt& volba : VolbyQt) {
        QCommandLineOption qt(QString::fromLatin1(volba.Jmeno));
        if (volba.SHodnotou) qt.setValueName("VALUE");
        qt.setFlags(QCommandLineOption::HiddenFromHelp);
        Parser.addOption(qt);
    }
}

// A wrong command line: the reason and the usage on standard error, status 2.
int ChybnyPrikazovyRadek(const QCommandLineParser& Parser, const std::string& Duvod) {
    std::cerr << "R_IV618: " << Duvod << "\n\n" << Parser.helpText().toStdString() << std::flush;
    return 2;
}

// Version of one library, read from its _Version entry; empty when the
// library cannot be loaded or lacks the entry.
std::string VerzeKnihovny(const std::string& Cesta, const std::string& Prefix) {
    void* knihovna = ::dlopen(Cesta.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!knihovna) return {};
    using TVersion = int32_t (*)();
    std::string text;
    if (const auto verze = reinterpret_cast<TVersion>(::dlsym(knihovna, (Prefix + "_Version").c_str()))) {
        const int32_t kod = verze();
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "%X.%02X", static_cast<unsigned>(kod >> 8) & 0xFFu,
                      static_cast<unsigned>(kod) & 0xFFu);
        text = buffer;
    }
    ::dlclose(knihovna);
    return text;
}

}  // namespace

std::string TextVerze() {
    std::string text = "R_IV618 " KV_VERSION "\nInterface libraries:\n";
    for (const kv618::Interface& rozhrani : kv618::Interfaces) {
        const std::string jmeno = rozhrani.libraryFile;
        const std::string prefix = rozhrani.prefix;
        const std::string vedle = SlozkaProgramu() + "/" + jmeno;
        // The binding looks beside the program first, then where the system looks.
        std::string verze = VerzeKnihovny(vedle, prefix);
        std::string kde = vedle;
        if (verze.empty()) {
            verze = VerzeKnihovny(jmeno, prefix);
            kde = "from the system's library path";
        }
        if (verze.empty()) {
            verze = "missing";
            kde = "not beside the program (" + SlozkaProgramu() + ") nor on the library path";
        }
        text += "  " + jmeno + std::string(14 - jmeno.size(), ' ') + verze + "  " + kde + "\n";
    }
    text += "Settings file: " + CestaNastaveni() + "\n";
    return text;
}

std::optional<int> PredbeznyPrikazovyRadek(int argc, char* argv[], TPrikazovyRadek& Vysledek) {
    // No display yet: a wrong option, --help and --version end here, with or
    // without one.  Qt's options wait for QApplication, which takes them.
    QCoreApplication jadro(argc, argv);
    QCommandLineParser parser;
    NastavParser(parser);
    if (!parser.parse(jadro.arguments())) return ChybnyPrikazovyRadek(parser, parser.errorText().toStdString());
    if (parser.isSet("help")) parser.showHelp(0);
    if (parser.isSet("version")) {
        std::cout << TextVerze();
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return ChybnyPrikazovyRadek(
            parser, "unexpected argument '" + parser.positionalArguments().first().toStdString() + "'");
    if (parser.isSet("settings")) {
        const QString soubor = parser.value("settings");
        if (soubor.isEmpty()) return ChybnyPrikazovyRadek(parser, "--settings needs a file name");
        Vysledek.Nastaveni = QFileInfo(soubor).absoluteFilePath().toStdString();
    }
    return std::nullopt;
}

void ZavriAzBudeVidetZadaLiSeTo(QWidget& Okno) {
    if (!qEnvironmentVariableIsSet("R_IV618_QUIT_WHEN_SHOWN")) return;
    auto* casovac = new QTimer(&Okno);
    casovac->setInterval(5);
    QObject::connect(casovac, &QTimer::timeout, &Okno, [&Okno, casovac] {
        if (!Okno.windowHandle() || !Okno.windowHandle()->isExposed()) return;
        casovac->stop();
        Okno.close();
    });
    casovac->start();
}
