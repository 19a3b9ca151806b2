// Dialog templates: the build stores all of them as one zlib stream, about a
// quarter of their size as resources; the first use inflates them into one
// heap block, which lives until the cleanup.
#include "wizard.h"
#include "../package/package.h"

// The block (cmake/pack_templates.py): a WORD count, then per template its
// WORD id and WORD offset in the block; every template starts DWORD-aligned.
extern const unsigned char kDialogTemplateStream[];
extern const unsigned kDialogTemplateStreamSize;
extern const unsigned kDialogTemplatesSize;

// Filled on the main thread by the frame or the uninstaller's dialog, before
// any worker thread asks for a template.
static BYTE* s_templates;

const DLGTEMPLATE* DialogTemplate(int id)
{
    if (!s_templates) {
        BYTE* block = (BYTE*)AllocMem(kDialogTemplatesSize);
        if (!block)
            return 0;
        if (InflateStream(kDialogTemplateStream, kDialogTemplateStreamSize, block, kDialogTemplatesSize, 0, 0)
            != (int)kDialogTemplatesSize) {
            FreeMem(block);
            return 0;
        }
        s_templates = block;
    }
    const WORD* index = (const WORD*)s_templates;
    for (int i = 0; i < index[0]; i++)
        if (index[1 + 2 * i] == id)
            return (const DLGTEMPLATE*)(s_templates + index[2 + 2 * i]);
    return 0;
}

void FreeDialogTemplates()
{
    FreeMem(s_templates);
    s_templates = 0;
}
