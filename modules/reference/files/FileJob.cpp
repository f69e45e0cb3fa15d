#include "files/FileJob.h"

#include "core/Ossl.h"
#include "core/Outcome.h"
#include "files/SafeFolder.h"

namespace ref {

std::string TransformFile(const std::string& folder, std::string_view inPath,
                          std::string_view outPath, const std::function<void(BIO*, BIO*)>& work,
                          Resolver resolver) {
    SplitRelativePath(inPath);
    SplitRelativePath(outPath);
    const SafeFolder files(folder, resolver);
    const UniqueFd input = files.OpenInput(inPath);
    OutputFile output = files.CreateOutput(outPath);
    BioPtr in(BIO_new_fd(input.get(), BIO_NOCLOSE));
    BioPtr out(BIO_new_fd(output.fd(), BIO_NOCLOSE));
    if (!in || !out)
        Fail(kInternal, "out of memory");
    work(in.get(), out.get());
    output.Commit();
    return files.FullPath(outPath);
}

}  // namespace ref
