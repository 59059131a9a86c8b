// Setting the identified languages on a list of documents, as the language identifier's list
// operation does.

#include <gtest/gtest.h>

#include <velmora/document.hpp>
#include <velmora/errors.hpp>
#include <velmora/processor.hpp>

#include <string>
#include <vector>

namespace velmora {
namespace {

TEST(DocumentLanguages, TextsAreCollectedInListOrder) {
  const std::vector<Document> documents = {Document("Bonjour."), Document(""), Document("Hallo.")};
  EXPECT_EQ(detail::document_texts(documents),
            (std::vector<std::string>{"Bonjour.", "", "Hallo."}));
}

TEST(DocumentLanguages, EachDocumentTakesTheLanguageAtItsIndexReplacingAnEarlierOne) {
  std::vector<Document> documents = {Document("Bonjour."), Document("Hallo."), Document("Hi.")};
  documents[1].set_lang("en");
  detail::set_document_languages(documents, {"fr", "de", "en"});
  EXPECT_EQ(documents[0].lang(), "fr");
  EXPECT_EQ(documents[1].lang(), "de");
  EXPECT_EQ(documents[2].lang(), "en");
}

TEST(DocumentLanguages, AnAnswerOfAnotherLengthIsRefusedBeforeAnyDocumentChanges) {
  for (const std::vector<std::string>& languages :
       {std::vector<std::string>{"fr"}, std::vector<std::string>{"fr", "de", "en"},
        std::vector<std::string>{}}) {
    SCOPED_TRACE(languages.size());
    std::vector<Document> documents = {Document("Bonjour."), Document("Hallo.")};
    documents[0].set_lang("xx");
    try {
      detail::set_document_languages(documents, languages);
      FAIL() << "no error";
    } catch (const LangIDModelError& error) {
      EXPECT_STREQ(error.what(), "LangID language and document counts disagree");
    }
    EXPECT_EQ(documents[0].lang(), "xx");
    EXPECT_EQ(documents[1].lang(), std::nullopt);
  }
}

TEST(DocumentLanguages, AnEmptyListNeedsAnEmptyAnswer) {
  std::vector<Document> documents;
  EXPECT_NO_THROW(detail::set_document_languages(documents, {}));
}

}  // namespace
}  // namespace velmora
