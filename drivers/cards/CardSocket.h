// The ISA and PCI cards and the USB converter: each is reached through a
// Unix-domain SOCK_SEQPACKET socket in the card folder, one frame a packet.
#pragma once

#include "DescriptorTransport.h"

#include <memory>
#include <string>

namespace drv::cards {

constexpr int32_t HighestIsaBase = 0xFFF;

// The card folder: $KV618_CARD_DIR, else $XDG_RUNTIME_DIR/kv618, else
// /tmp/kv618-<uid>.
std::string CardFolder();
// A socket in a folder that someone else controls could be anyone's, not the
// card: UntrustedFolder for such a folder, Ok otherwise (a missing one too).
int32_t CheckCardFolder(const std::string& folder);
// "pci726-300.sock" for base 0x300.
std::string IsaSocketName(int32_t base);
// Opens a link to the card whose socket has this name in the card folder.
int32_t OpenCard(int32_t* handle, const std::string& socketName);

class CardSocket : public PacketSocket {
public:
    // Connects to the card's socket; CardMissing when no card answers there.
    static int32_t Open(const std::string& path, std::unique_ptr<Transport>& out);

    int32_t DiscardInput() override;
    int32_t Send(std::span<const uint8_t> frame, Clock::time_point deadline) override;
    Received Receive(std::span<uint8_t> buffer, Clock::time_point deadline) override;
    Received TakeWaiting(std::span<uint8_t> buffer) override;

private:
    explicit CardSocket(std::string path) : path_(std::move(path)) {}
    int32_t ConnectCard(Clock::time_point deadline);
    int32_t Lost();
    bool FarEndClosed() const;

    std::string path_;
};

}  // namespace drv::cards
