// Included first by every header of the table engine that is not part of its interface (the
// interface is isam/include/isam/). The engine's own sources, its tool, its tests and the testing
// kits define RIVENOAK_ISAM_INSIDE; any other part of the program that reaches for an internal
// header stops here, so that the line between the interface and the engine's insides is one the
// compiler holds rather than one kept by care.
#ifndef RIVENOAK_ISAM_INTERNAL_HEADER_H_
#define RIVENOAK_ISAM_INTERNAL_HEADER_H_

#ifndef RIVENOAK_ISAM_INSIDE
#error "an internal header of the table engine: outside isam/, include only isam/include/isam/"
#endif

#endif  // RIVENOAK_ISAM_INTERNAL_HEADER_H_
