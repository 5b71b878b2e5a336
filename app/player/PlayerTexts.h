#pragma once
#include <QString>

#include "app/core/Language.h"

namespace quillet::player {

// The player's texts: section "Player" of the recorder's language files,
// with English built in.
struct PlayerText {
    const char* key;
    const char* builtin;
};

const PlayerText* playerTexts(int* count);

class PlayerTexts {
public:
    static constexpr const char* kSection = "Player";

    explicit PlayerTexts(const Language& language) : language_(language) {}
    QString text(const char* key) const;

private:
    const Language& language_;
};

} // namespace quillet::player
