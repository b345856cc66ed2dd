// init_file.cpp - reads the instance's initialisation file once per cold start.
#include "entry/init_file.h"

#include <stdio.h>
#include <string.h>

#include "entry/log.h"

static const char INIT_BASE_NAME[] = "ZIROD";

FILE *OpenInitFile(const char *baseName, char nameBuffer[INIT_FILE_NAME_SIZE], uint32_t instance) {
    snprintf(nameBuffer, INIT_FILE_NAME_SIZE, "%s%02u.INT", baseName, instance);
    FILE *file = fopen(nameBuffer, "r");
    if (file) return file;
    snprintf(nameBuffer, INIT_FILE_NAME_SIZE, "%s%01u.INT", baseName, instance);
    file = fopen(nameBuffer, "r");
    if (file) return file;
    snprintf(nameBuffer, INIT_FILE_NAME_SIZE, "%s.INT", baseName);
    return fopen(nameBuffer, "r");
}

bool ReadOnOff(const char *line, const char *pattern, uint8_t *flag) {
    char word[4] = {0};
    if (sscanf(line, pattern, word) != 1) return false;
    if (strncmp(word, "OFF", 3) == 0)
        *flag = 0;
    else if (strncmp(word, "ON", 2) == 0)
        *flag = 1;
    return true;
}

void ReadInitFile(CallBlock *block) {
    DriverData *data = block->Data;
    char name[INIT_FILE_NAME_SIZE];
    FILE *file = OpenInitFile(INIT_BASE_NAME, name, block->Instance);
    if (file == nullptr) {
        err(LOG_OPERATION, "ZIROD> ColdStart() Warning, no initfile found");
        return;
    }

    char line[256];
    uint16_t lineNumber = 0;
    while (fgets(line, sizeof line, file) != nullptr) {
        lineNumber++;
        // Files written on Windows end their lines with CR LF; read them as LF.
        size_t length = strlen(line);
        if (length >= 2 && line[length - 2] == '\r' && line[length - 1] == '\n') {
            line[length - 2] = '\n';
            line[length - 1] = '\0';
        }
        for (char *c = line; *c != '\0' && *c != '\n'; ++c)
            if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');

        if (ReadOnOff(line, "RTSCTS = %3s", &data->RTSCTSflag)) {
            err(LOG_REFUSED, "ZIROD> ReadInitFile() RTSCTSflag = %u", data->RTSCTSflag);
            continue;
        }
        if (ReadOnOff(line, "NEWUSE = %3s", &data->UsageFlag)) {
            err(LOG_REFUSED, "ZIROD> ReadInitFile() UsageFlag = %u", data->UsageFlag);
            continue;
        }
        if (ReadOnOff(line, "DEBUG = %3s", &data->DebugFlag)) {
            err(LOG_REFUSED, "ZIROD> ReadInitFile() DebugFlag = %u", data->DebugFlag);
            continue;
        }
        unsigned gap = 0;
        if (sscanf(line, " IFG = %u", &gap) == 1) {
            err(LOG_OPERATION, "ZIROD> ReadInitFile() IFG = %u", gap);
            data->IFG = static_cast<uint16_t>(gap);
            continue;
        }
        if (line[0] != '\n' && line[0] != '\0')
            err(LOG_REFUSED, "ZIROD> ReadIntFile() illegal line %u in '%s'", lineNumber, name);
    }
    fclose(file);
}
