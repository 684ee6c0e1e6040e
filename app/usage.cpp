#include "app/usage.h"

#include "reader/discovery.h"

namespace quillane {

namespace {

constexpr char kPosixUsage[] =
    "Usage: quillane [options] file.pdf...\n"
    "       quillane [options] /in file.pdf [/out output.pdf]\n"
    "       quillane /diag\n"
    "\n"
    "Takes the images out of a PDF without rewriting it: the output is the input\n"
    "followed by an incremental update in which each image is replaced by a\n"
    "placeholder. The input is never written.\n"
    "\n"
    "Options:\n"
    "  /in FILE        a PDF to process; any argument that is no option is one too,\n"
    "                  and several are processed one after the other\n"
    "  /out FILE       where to write the result (one input only); by default the\n"
    "                  input's name with \"_Vexlo\" before its extension, beside it\n"
    "  /overwrite      replace an existing output\n"
    "  /noother        light mode: rename each image's subtype, append nothing\n"
    "  /outline        outline mode: each picture becomes a thin frame\n"
    "  /inline         also replace the images written inside page content\n"
    "  /showtext       draw the recognised text of scans (an invisible OCR layer)\n"
    "                  visibly where the scan was\n"
    "  /compact        write a new, smaller file of the objects still used instead\n"
    "                  of the input and an update (not with the light mode)\n"
    "  /tempexec       write the result into a private temporary folder, open it\n"
    "                  in the PDF reader, delete it when the reader has closed\n"
    "  /redirect       hand the input unchanged to the PDF reader\n"
    "  /diag           report the PDF reader association (to $QUILLANE_LOG)\n"
    "  -h, --help      show this text\n"
    "  -V, --version   show the version\n"
    "\n"
    "Modes: default (a light-gray box for each picture), light (/noother),\n"
    "translucent gray box, outline (/outline). \"ReplaceObject\" in the settings\n"
    "(\"none\", \"tgraybox\" or \"outline\") wins over the options; \"ReplaceInline\"\n"
    "and \"ShowText\" (non-zero DWORDs) turn /inline and /showtext on.\n"
    "\n"
    "Exit status: 0 done; 1 an error; 2 a usage error; 3 refused (encrypted\n"
    "input, existing output, PDF reader not found or not started). With several\n"
    "inputs the highest status wins.\n"
    "\n"
    "Settings: $QUILLANE_REGISTRY, else $XDG_CONFIG_HOME/quillane/registry.reg\n"
    "(~/.config/quillane/registry.reg), in the export format of the Windows\n"
    "registry editor. See quillane(1).\n";

// The Windows text up to the settings line, which names the configuration key.
constexpr char kWindowsUsageHead[] =
    "quillane.exe [options] file.pdf...\n"
    "quillane.exe [options] /in file.pdf [/out output.pdf]\n"
    "\n"
    "Takes the images out of a PDF without rewriting it: the output is the input "
    "followed by an incremental update in which each image is replaced by a "
    "placeholder. The input is never written.\n"
    "\n"
    "/in FILE\ta PDF to process; any argument that is no option is one too\n"
    "/out FILE\twhere to write the result (one input only); by default the input's "
    "name with \"_Vexlo\" before its extension\n"
    "/overwrite\treplace an existing output\n"
    "/noother\tlight mode: rename each image's subtype, append nothing\n"
    "/outline\toutline mode: each picture becomes a thin frame\n"
    "/inline\talso replace the images written inside page content\n"
    "/showtext\tdraw the recognised text of scans visibly where the scan was\n"
    "/compact\twrite a new, smaller file of the objects still used (not with the light "
    "mode)\n"
    "/tempexec\tshow the result in the PDF reader, delete it afterwards\n"
    "/redirect\thand the input unchanged to the PDF reader\n"
    "/diag\tcache the PDF reader command\n"
    "/?\tshow this text\n"
    "\n";

Text WindowsUsage() {
  return Text(kWindowsUsageHead) + "Settings: HKEY_CURRENT_USER\\" + kConfigurationKey +
         ", value ReplaceObject (\"none\", \"tgraybox\" or \"outline\"), which wins over the "
         "options; ReplaceInline and ShowText (non-zero DWORDs) turn /inline and /showtext "
         "on.\n";
}

}  // namespace

Text UsageText(platform::CommandLineStyle style) {
  return style == platform::CommandLineStyle::kPosix ? Text(kPosixUsage) : WindowsUsage();
}

}  // namespace quillane
