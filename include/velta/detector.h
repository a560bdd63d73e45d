// Detector objects: fed with buffers, they add their findings to a record.
#ifndef VELTA_DETECTOR_H
#define VELTA_DETECTOR_H

#include "velta/nls.h"

class VELTA_EXPORT TAutoDetector {
public:
    virtual void ReleaseEncodingDetector();
    virtual char* GetEncodingName(char* name) = 0;
    virtual NLS_Status DetectEncoding(const unsigned char* buffer, uint32_t length,
                                      NLS_DetectedEncoding* record) = 0;
    virtual ~TAutoDetector();
};

typedef TAutoDetector* (*NLS_DetectorFactory)();

VELTA_API TAutoDetector* NEWUTF8ENCODINGDETECTOR();

#endif
