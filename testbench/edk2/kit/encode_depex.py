#!/usr/bin/env python3
"""Encodes the [Depex] of the kit's binary modules with EDK2's own code.

EDK2's build ignores the [Depex] of a module that has binaries and no
sources: the DEPEX section GenFds makes for it is the .depex file its
[Binaries] names. This script asks EDK2's BaseTools what the module's
[Depex] says (the INF parser), resolves its names through the packages the
.inf lists (the DEC parser), and encodes it with EDK2's dependency-
expression encoder (AutoGen.GenDepex), the way EDK2 encodes a module built
from source.

usage: encode_depex.py OUT_DIR MODULE.inf...   (run with WORKSPACE,
       PACKAGES_PATH and EDK_TOOLS_PATH set; writes OUT_DIR/BASE_NAME.depex)
Exit 0 when every module's expression encoded, 1 when one did not, 2 on
bad use.
"""
import os
import sys


def main(argv):
    if len(argv) < 3 or any(v not in os.environ for v in ("WORKSPACE", "PACKAGES_PATH", "EDK_TOOLS_PATH")):
        print("usage: encode_depex.py OUT_DIR MODULE.inf... (with WORKSPACE, PACKAGES_PATH, EDK_TOOLS_PATH set)",
              file=sys.stderr)
        return 2
    sys.path.insert(0, os.path.join(os.environ["EDK_TOOLS_PATH"], "Source", "Python"))
    from Common import EdkLogger
    EdkLogger.Initialize()
    EdkLogger.SetLevel(EdkLogger.QUIET)
    import Common.GlobalData as GlobalData
    from Common.MultipleWorkspace import MultipleWorkspace
    from Common.Misc import PathClass, GuidValue
    from Workspace.WorkspaceDatabase import WorkspaceDatabase
    from Workspace.InfBuildData import _ProtocolValue, _PpiValue
    from AutoGen.GenDepex import DependencyExpression

    workspace = os.environ["WORKSPACE"]
    MultipleWorkspace.setWs(workspace, os.environ["PACKAGES_PATH"])
    GlobalData.gWorkspace = workspace
    GlobalData.gGlobalDefines = {"WORKSPACE": workspace}
    database = WorkspaceDatabase()
    out_dir = argv[1]
    failed = False
    for inf in argv[2:]:
        module = database.BuildObject[PathClass(inf, workspace), "AARCH64", "RELEASE", "GCC5"]
        expression = module.DepexExpression["AARCH64", module.ModuleType]
        if isinstance(expression, list):
            expression = " ".join(expression)
        if not expression:
            print(f"{inf}: no [Depex] expression")
            failed = True
            continue
        tokens = []
        for token in expression.split():
            if token in DependencyExpression.SupportedOpcode or token in ("(", ")"):
                tokens.append(token)
                continue
            value = (_ProtocolValue(token, module.Packages, inf) or _PpiValue(token, module.Packages, inf)
                     or GuidValue(token, module.Packages, inf))
            if value is None:
                print(f"{inf}: [Depex] names {token}, which no package the module lists declares")
                failed = True
                break
            tokens.append(value)
        else:
            path = os.path.join(out_dir, module.BaseName + ".depex")
            DependencyExpression(tokens, module.ModuleType, True).Generate(path)
            print(f"{inf}: [Depex] {expression.strip()} -> {path}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
