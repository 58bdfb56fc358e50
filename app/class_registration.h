#pragma once

namespace KX {

// Registers every persistent class this program knows, in the start-up order of the converter.
// Classes not built yet are simply absent: files that use them fail with "unknown class".
void RegisterAllClasses();

}  // namespace KX
