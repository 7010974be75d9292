// A second instance's image answers: asks for `rounds` bitmaps of texts tagged with `tag` in the current
// directory and prints "<answers> <other's> <mangled>": answers that carried another writer's text and
// answers that matched no text at all.
//
//   bitmap_writer TAG ROUNDS
#include "util/ImageUtil.h"

#include <QByteArray>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    const QByteArray tag = argv[1];
    const int rounds = std::atoi(argv[2]);
    int others = 0;
    int mangled = 0;
    for (int round = 0; round < rounds; ++round) {
        // Lengths vary, so that another writer's answer differs in size as well as in content.
        const QByteArray text = "{\"writer\":\"" + tag + "\",\"round\":" + QByteArray::number(round)
            + ",\"pad\":\"" + QByteArray(round % 37, 'p') + "\"}";
        const QByteArray bitmap = ImageUtil::makeTextBitmap(text.constData());
        QByteArray rgb;
        for (int i = 54; i + 2 < bitmap.size(); i += 3)
            rgb += QByteArray() + bitmap.at(i + 2) + bitmap.at(i + 1) + bitmap.at(i);
        const bool intact = bitmap.size() == 54 + 12 * ((text.size() + 11) / 12) && rgb.startsWith(text)
            && rgb.mid(text.size()).count('\0') == rgb.size() - text.size();
        if (intact)
            continue;
        if (rgb.startsWith("{\"writer\":\"") && !rgb.startsWith("{\"writer\":\"" + tag + "\""))
            ++others;
        else
            ++mangled;
    }
    std::printf("%d %d %d\n", rounds, others, mangled);
    return 0;
}
