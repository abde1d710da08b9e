/* Trust for a throwaway certificate authority inside a Wine prefix (or any
 * Windows machine it runs on).
 *
 *   trust_root add CA-FILE          adds the certificate to the local
 *                                   machine's trusted roots ("Root" store)
 *   trust_root verify CERT-FILE HOST  exit 0 when the certificate chains to a
 *                                   trusted root with no trust error and is
 *                                   valid for HOST as a TLS server, else 1
 *
 * Files are PEM or DER. Exit status 2 reports a usage or file error. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
/* wincrypt.h needs windows.h first. */
#include <wincrypt.h>

static BYTE *readCertificate(const char *path, DWORD *size) {
  FILE *f = fopen(path, "rb");
  if (f == NULL) return NULL;
  static BYTE text[65536];
  const size_t n = fread(text, 1, sizeof text - 1, f);
  fclose(f);
  text[n] = 0;
  DWORD der = 0;
  if (!CryptStringToBinaryA((const char *)text, (DWORD)n, CRYPT_STRING_BASE64HEADER, NULL, &der,
                            NULL, NULL)) {
    *size = (DWORD)n; /* not PEM: take the file as DER */
    return text;
  }
  BYTE *out = malloc(der);
  if (out == NULL || !CryptStringToBinaryA((const char *)text, (DWORD)n, CRYPT_STRING_BASE64HEADER,
                                           out, &der, NULL, NULL)) {
    free(out);
    return NULL;
  }
  *size = der;
  return out;
}

static int add(const BYTE *der, DWORD size) {
  HCERTSTORE root =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (root == NULL) {
    printf("CertOpenStore: %lu\n", (unsigned long)GetLastError());
    return 2;
  }
  const BOOL ok = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der, size,
                                                   CERT_STORE_ADD_REPLACE_EXISTING, NULL);
  if (!ok) printf("CertAddEncodedCertificateToStore: %lu\n", (unsigned long)GetLastError());
  CertCloseStore(root, 0);
  return ok ? 0 : 2;
}

static int verify(const BYTE *der, DWORD size, const char *host) {
  PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, der, size);
  if (cert == NULL) {
    printf("not a certificate: %lu\n", (unsigned long)GetLastError());
    return 2;
  }
  CERT_CHAIN_PARA para;
  memset(&para, 0, sizeof para);
  para.cbSize = sizeof para;
  PCCERT_CHAIN_CONTEXT chain = NULL;
  int result = 1;
  if (CertGetCertificateChain(NULL, cert, NULL, cert->hCertStore, &para, 0, NULL, &chain)) {
    WCHAR name[256];
    MultiByteToWideChar(CP_ACP, 0, host, -1, name, 256);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl;
    memset(&ssl, 0, sizeof ssl);
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = name;
    CERT_CHAIN_POLICY_PARA policy;
    memset(&policy, 0, sizeof policy);
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status;
    memset(&status, 0, sizeof status);
    status.cbSize = sizeof status;
    /* Wine's SSL policy passes a chain that stops short of any root, so the
     * chain's own trust status is checked as well. */
    const DWORD trust = chain->TrustStatus.dwErrorStatus;
    if (CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
      printf("chain of %lu, trust errors 0x%08lx, policy status 0x%08lx\n",
             (unsigned long)chain->rgpChain[0]->cElement, (unsigned long)trust,
             (unsigned long)status.dwError);
      result = status.dwError == 0 && trust == CERT_TRUST_NO_ERROR ? 0 : 1;
    }
    CertFreeCertificateChain(chain);
  }
  CertFreeCertificateContext(cert);
  return result;
}

int main(int argc, char **argv) {
  const int isAdd = argc == 3 && strcmp(argv[1], "add") == 0;
  const int isVerify = argc == 4 && strcmp(argv[1], "verify") == 0;
  if (!isAdd && !isVerify) {
    fprintf(stderr, "usage: trust_root add CA-FILE | trust_root verify CERT-FILE HOST\n");
    return 2;
  }
  DWORD size = 0;
  BYTE *der = readCertificate(argv[2], &size);
  if (der == NULL) {
    printf("cannot read %s\n", argv[2]);
    return 2;
  }
  return isAdd ? add(der, size) : verify(der, size, argv[3]);
}
