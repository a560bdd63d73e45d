// Conversion objects given back by NLS_DeleteEncodingConverter (and the
// one-shot call's own) are kept, a few of them, for the next object of the
// same names: a program that makes an object per text, as many do with
// iconv_open, then pays for no lookup, allocation or converter. An object is
// kept only once it is as a new one would be (no text begun, no option or
// policy chosen), and taken only while the registry it was made from is the
// current one and its tables and libraries are as they were.
#ifndef VELTA_API_SPARE_OBJECTS_H
#define VELTA_API_SPARE_OBJECTS_H

class EncodingConverter;

namespace velta {

// An object made for exactly these names, or null.
EncodingConverter* takeSpareObject(const char* from, const char* to);
// Keeps the object (made new again) or deletes it.
void giveBackObject(EncodingConverter* object);
// Deletes every kept object; called before a registry is replaced or deleted.
void deleteSpareObjects();

}  // namespace velta

#endif
