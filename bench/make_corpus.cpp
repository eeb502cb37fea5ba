// SPDX-License-Identifier: MIT
// Writes the benchmark corpus, deterministic from a seed:
//   make_corpus DIR WORKLOAD [SEED] [BIG_MIB]
// WORKLOAD is many, deep, big, missing, dense, sparse or worst; writes DIR/WORKLOAD.lst
// (worst: DIR/worst-abc.lst, worst-w.lst, worst-kk.lst, worst-wg.lst and
// worst-none.lst) and the files.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

std::mt19937_64 rng;

int Pick(int lo, int hi) {
  return std::uniform_int_distribution<int>(lo, hi)(rng);
}

// COBOL-like source text without the marker.
std::string Text(size_t size) {
  static const char* const kLines[] = {
      "           MOVE WS-COMPTEUR TO WS-TOTAL.\n",
      "           ADD 1 TO WS-INDICE.\n",
      "           IF WS-STATUS NOT = '00' PERFORM ERREUR-FICHIER.\n",
      "           WRITE ENREG-SORTIE FROM WS-LIGNE.\n",
      "           READ FICHIER-CLIENT AT END MOVE 'O' TO WS-FIN.\n",
      "       01  WS-ZONE-TRAVAIL         PIC X(132) VALUE SPACES.\n",
      "      * CONTROLE DES DONNEES EN ENTREE DU TRAITEMENT BATCH\n",
      "           PERFORM VARYING WS-I FROM 1 BY 1 UNTIL WS-I > 50\n",
      "           COMPUTE WS-MONTANT = WS-PRIX * WS-QUANTITE.\n",
      "           DISPLAY 'WORK FILE OPENED: ' WS-NOM-FICHIER.\n",
  };
  std::string s;
  s.reserve(size + 80);
  while (s.size() < size) s += kLines[Pick(0, 9)];
  s.resize(size);
  return s;
}

std::string Block(const std::string& name) {
  char b[128];
  std::snprintf(b, sizeof b, "%05dGCO14/06/23A%05dMARTIN  14:32:05%-8s000314/06/2023",
                Pick(0, 99999), Pick(0, 99999), name.c_str());
  return "-STORAGE SECTION.\n       01  CRV-CONSTANTES.\n           05  FILLER PIC X(60) VALUE\n"
         "           '" +
         std::string(b) + "'.\n";
}

void Put(const std::string& path, const std::string& content) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(content.data(), 1, content.size(), f) != content.size() ||
      std::fclose(f) != 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
}

// A program of `size` bytes whose block starts at `at`.
std::string Program(const std::string& name, size_t size, size_t at) {
  std::string s = Text(size);
  const std::string block = "       WORKING" + Block(name);
  s.replace(at, block.size(), block);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(
        stderr,
        "usage: make_corpus DIR many|deep|big|missing|dense|sparse|worst [SEED] [BIG_MIB]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const std::string workload = argv[2];
  rng.seed(argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1);
  const long big_mib = argc > 4 ? std::strtol(argv[4], nullptr, 10) : 2048;
  mkdir(dir.c_str(), 0755);
  const std::string sub = dir + "/" + workload;
  mkdir(sub.c_str(), 0755);
  std::string list;
  if (workload == "many") {
    for (int k = 0; k < 100000; ++k) {
      if (k % 1000 == 0) mkdir((sub + "/d" + std::to_string(k / 1000)).c_str(), 0755);
      const std::string name = "P" + std::to_string(k);
      const std::string path = sub + "/d" + std::to_string(k / 1000) + "/" + name + ".cbl";
      const size_t size = static_cast<size_t>(Pick(4096, 40960));
      Put(path,
          Program(name, size,
                  static_cast<size_t>(Pick(0, std::min(9700, static_cast<int>(size) - 300)))));
      list += path + "\n";
    }
  } else if (workload == "deep") {
    for (int k = 0; k < 1000; ++k) {
      const std::string name = "D" + std::to_string(k);
      const std::string path = sub + "/" + name + ".cbl";
      const size_t size = 1 << 20;
      Put(path, Program(name, size, size - static_cast<size_t>(Pick(300, 2048))));
      list += path + "\n";
    }
  } else if (workload == "big") {
    const std::string path = sub + "/BIG.cbl";
    const std::string mib = Text(1 << 20);
    FILE* f = std::fopen(path.c_str(), "wb");
    for (long k = 0; f != nullptr && k < big_mib; ++k) std::fwrite(mib.data(), 1, mib.size(), f);
    if (f == nullptr || std::fclose(f) != 0) {
      std::perror(path.c_str());
      return 1;
    }
    list = path + "\n";
  } else if (workload == "dense") {
    // Markers without a block, as in a library of concatenated sources:
    // "WORKING-STORAGE" every 64 bytes over 8 MiB, every 4 KiB over 64 MiB.
    const std::string line = "       WORKING-STORAGE SECTION.  MOVE WS-A TO WS-B.            \n";
    struct Dense {
      const char* name;
      size_t every;
      long mib;
    } const files[] = {{"D64.cbl", 64, 8}, {"D4K.cbl", 4096, 64}};
    for (const Dense& d : files) {
      std::string unit = line + Text(d.every - line.size());
      unit.back() = '\n';
      std::string content;
      while (content.size() < static_cast<size_t>(d.mib) << 20) content += unit;
      const std::string path = sub + "/" + d.name;
      Put(path, content);
      list += path + "\n";
    }
  } else if (workload == "worst") {
    // Built to hurt the scan, 64 MiB each, every window without a slash:
    // the marker over and over, listed under a name that starts like the
    // marker (WORKINGX) and under one that does not (ABC); a pair of
    // markers before 10 300 'K', the marker's rarest letter; a W with a G
    // six bytes on at every other place, the marker's first and last letters
    // without the rest; and the same size without a marker, for the cost of
    // the bytes alone.
    const size_t size = size_t{64} << 20;
    auto repeat = [size](const std::string& unit) {
      std::string s;
      while (s.size() < size) s += unit;
      s.resize(size);
      return s;
    };
    const std::string marker_only = repeat("WORKING");
    const struct {
      const char* list;
      const char* file;
      std::string content;
    } files[] = {{"worst-abc", "ABC.dat", marker_only},
                 {"worst-w", "WORKINGX.dat", marker_only},
                 {"worst-kk", "kk/ABC.dat", repeat("WORKINGWORKING" + std::string(10300, 'K'))},
                 {"worst-wg", "wg/ABC.dat", repeat("WWWWWWGGGGGG")},
                 {"worst-none", "NONE.dat", Text(size)}};
    mkdir((sub + "/kk").c_str(), 0755);
    mkdir((sub + "/wg").c_str(), 0755);
    for (const auto& f : files) {
      Put(sub + "/" + f.file, f.content);
      Put(dir + "/" + f.list + ".lst", sub + "/" + f.file + "\n");
    }
    return 0;
  } else if (workload == "sparse") {
    // 4 GiB that are a hole but for a block near the end.
    const std::string path = sub + "/S.cbl";
    const std::string block = "WORKINGS 12345";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || ftruncate(fileno(f), off_t{4} << 30) != 0 ||
        std::fseek(f, (long{4} << 30) - 5000, SEEK_SET) != 0 ||
        std::fwrite(block.data(), 1, block.size(), f) != block.size() || std::fclose(f) != 0) {
      std::perror(path.c_str());
      return 1;
    }
    list = path + "\n";
  } else if (workload == "missing") {
    for (int k = 0; k < 100000; ++k) list += sub + "/absent/P" + std::to_string(k) + ".cbl\n";
  } else {
    std::fprintf(stderr, "make_corpus: unknown workload %s\n", workload.c_str());
    return 2;
  }
  Put(dir + "/" + workload + ".lst", list);
  return 0;
}
