// What a window asks of the module: carried out by the connection worker,
// one request of a window out at a time, the result back on the window's
// thread with its text for the status bar.
#pragma once

#include "Report.h"
#include "LinkWorker.h"
#include "Module.h"

#include <QString>

#include <cstdint>

// What a live window's request gave: the layer's result, and its text for
// the status bar: " " + the library's text for the code (success included),
// or the window's own text for an operator's request that succeeded.
template <typename T>
struct TVysledekOkna {
    kv618::Result<T> Vysledek;
    QString Text;
    bool Uspech() const { return Vysledek.ok(); }
};

namespace detail {
inline kv618::Result<bool> JakoVysledek(int32_t Chyba) { return {Chyba, Chyba == 0}; }
template <typename T>
kv618::Result<T> JakoVysledek(kv618::Result<T> Vysledek) { return Vysledek; }
}  // namespace detail

// The requests of one window, carried out by the connection worker.  One is
// out at a time: a poll that comes while one is still out is skipped and
// counted, never queued behind it, so a slow module builds no backlog and a
// recovered one is shown at once.  The window (a ModuleWindow) owns it.
class TPozadavky {
public:
    // A poll: carries out `Operace` on the module at `Adresa` over the
    // program's link and gives `Potom` its result on the window's thread,
    // unless the window is gone or closed by then (a poll is abandoned with
    // its window).  False when a request of the window is still out (the
    // tick is counted as skipped).
    template <typename W, typename F, typename G>
    bool Posli(W* Okno, uint8_t Adresa, F Operace, G Potom) {
        if (venku_ > 0) {
            ++vynechano_;
            return false;
        }
        Odesli(Okno, Adresa, std::move(Operace), QString(), std::move(Potom), false);
        return true;
    }

    // What the operator asked for (outputs, a reset, the clock): behind a
    // request still out instead of instead of it, so that it is never lost,
    // and carried out to its end also when the window closes meanwhile.  On
    // success the result's text is `TextUspechu` (the library's text when
    // that is null).  With the window closed by then, the result goes to the
    // program's report under the window's caption.
    template <typename W, typename F, typename G>
    void Zarad(W* Okno, uint8_t Adresa, F Operace, const QString& TextUspechu, G Potom) {
        Odesli(Okno, Adresa, std::move(Operace), TextUspechu, std::move(Potom), true);
    }

    // Told after each result has been shown (the fault soak watches by it).
    std::function<void()> PoVysledku;

    bool Venku() const { return venku_ > 0; }
    int Vynechano() const { return vynechano_; }

private:
    template <typename W, typename F, typename G>
    void Odesli(W* Okno, uint8_t Adresa, F Operace, const QString& TextUspechu, G Potom, bool Ohlasit) {
        ++venku_;
        QPointer<W> okno(Okno);
        const QString titulek = Ohlasit ? Okno->windowTitle() : QString();
        LinkWorker::Program().Post([=, this, Operace = std::move(Operace), Potom = std::move(Potom)](
                                       kv618::Connection& Spojeni) mutable {
            const kv618::Module modul = Spojeni.At(Adresa);
            auto vysledek = detail::JakoVysledek(Operace(modul));
            using T = decltype(vysledek.value);
            TVysledekOkna<T> v{vysledek, vysledek.ok() && !TextUspechu.isNull()
                                             ? TextUspechu
                                             : " " + QString::fromStdString(modul.Text(vysledek.error))};
            OnWindowsThread([=, this, Potom = std::move(Potom), v = std::move(v)]() mutable {
                if (okno) {
                    --venku_;  // the window, and this with it, is still there
                    if (!okno->Closed()) {
                        Potom(okno.data(), v);
                        if (PoVysledku) PoVysledku();
                        return;
                    }
                }
                if (Ohlasit) Report::Program().Tell(titulek, v.Text);
            });
        });
    }

    int venku_ = 0;
    int vynechano_ = 0;
};
