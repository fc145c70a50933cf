#pragma once

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>

namespace lumivale::test {

// Well-formed manifests that the mutation tests start from.
QList<QByteArray> manifestSeeds();

// One random edit of `input`: flipped, inserted, deleted or repeated bytes, or
// a JSON token that tends to break decoders spliced in.
QByteArray mutateManifest(const QByteArray &input, QRandomGenerator &random);

// Decodes `input` and, when it decodes, uses every derived value, so a fault
// anywhere on the path shows up under the sanitizers.
void exerciseManifest(const QByteArray &input);

} // namespace lumivale::test
