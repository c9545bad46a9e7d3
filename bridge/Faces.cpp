#include "Faces.h"

namespace kvbridge {

Faces::Faces(std::vector<std::unique_ptr<Publisher>> faces) : faces_(std::move(faces)) {}

Faces::~Faces() = default;

void Faces::Start() {
    try {
        for (; started_ < faces_.size(); ++started_) faces_[started_]->Start();
    } catch (...) {
        Stop();
        throw;
    }
}

void Faces::Stop() {
    for (; started_ > 0; --started_) faces_[started_ - 1]->Stop();
}

void Faces::Online(size_t module, const kv618::Identification& id) {
    for (auto& f : faces_) f->Online(module, id);
}
void Faces::Offline(size_t module) {
    for (auto& f : faces_) f->Offline(module);
}
void Faces::Inputs(size_t module, uint32_t inputs) {
    for (auto& f : faces_) f->Inputs(module, inputs);
}
void Faces::Status(size_t module, uint32_t status) {
    for (auto& f : faces_) f->Status(module, status);
}
void Faces::Polled(size_t module, Reading what, uint32_t value) {
    for (auto& f : faces_) f->Polled(module, what, value);
}
void Faces::Counters(size_t module, const kv618::CounterTable& values) {
    for (auto& f : faces_) f->Counters(module, values);
}
void Faces::OutputsWritten(size_t module, uint32_t outputs) {
    for (auto& f : faces_) f->OutputsWritten(module, outputs);
}
void Faces::PollFailed(size_t module, const char* poll, int code, const std::string& text) {
    for (auto& f : faces_) f->PollFailed(module, poll, code, text);
}
void Faces::LineFailed(size_t module, int code, const std::string& text) {
    for (auto& f : faces_) f->LineFailed(module, code, text);
}
void Faces::LineOpen(size_t module) {
    for (auto& f : faces_) f->LineOpen(module);
}
void Faces::CommandRefused(size_t module, const std::string& topic, std::string_view payload, const std::string& why) {
    for (auto& f : faces_) f->CommandRefused(module, topic, payload, why);
}

}  // namespace kvbridge
