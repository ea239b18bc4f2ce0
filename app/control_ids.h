#pragma once
// The window's controls by their numeric ids, which are also their Qt object
// names, so that tests and the shared option logic find them.

#include <cstdint>

enum ControlId : uint32_t {
    kIdSourceTab = 1001,
    kIdOutputFile = 1011,
    kIdOutputBrowse = 1012,
    kIdPictureFormat = 1013,
    kIdTransform = 1014,
    kIdFrameRate = 1015,
    kIdFrameRateNumerator = 1016,
    kIdFrameRateDenominator = 1017,
    kIdPFrames = 1018,
    kIdBFrames = 1019,
    kIdSceneChange = 1020,
    kIdQuantMatrix = 1021,
    kIdQualityI = 1022,
    kIdQualityP = 1023,
    kIdQualityB = 1024,
    kIdSoundMethod = 1025,
    kIdAudioBlockSize = 1026,
    kIdStatusLine = 1027,
    kIdProgressBar = 1028,
    kIdCreate = 1031,
    kIdAbort = 1032,
    kIdExit = 1033,
    kIdAviPath = 1041,
    kIdAviBrowse = 1042,
    kIdAviVideoLine = 1043,
    kIdAviSoundLine = 1044,
    kIdMoviePath = 1046,
    kIdMovieBrowse = 1047,
    kIdImagePath = 1051,
    kIdImageBrowse = 1052,
    kIdWavePath = 1053,
    kIdWaveBrowse = 1054,
};
